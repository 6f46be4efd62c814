#!/bin/sh
# Writes a help2man include file with one section per lumifold-cli command,
# each the command's own --help, so the manual page lists every option and
# cannot drift from the program. Usage: command_sections.sh CLI OUTPUT
set -eu
cli=$1
out=$2
{
  printf '[COMMANDS]\n'
  printf "Each command's options, as 'lumifold-cli COMMAND --help' prints them.\n"
  for command in merge batch simulate probe scales; do
    printf '.SS %s\n.nf\n' "$command"
    # roff: a backslash is \e; a line starting with . or ' is shielded by \&.
    "$cli" "$command" --help | sed -e 's/\\/\\e/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"
    printf '.fi\n'
  done
  printf '[SEE ALSO]\nlumifold(1). The README, docs/scaling.md (batches over many machines) and docs/design.md of the source.\n'
} >"$out"
