#!/usr/bin/env bash
# The GNU parallel recipe of docs/scaling.md on the local machine
# (--sshlogin 2/: instead of a hosts file), then the join: every series of
# the study is merged by exactly one shard and appears once in the joined
# summary. Skipped (status 77) without GNU parallel.
set -euo pipefail
cli=$1
command -v parallel >/dev/null || { echo "GNU parallel is not installed: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
for i in $(seq 1 13); do
  "$cli" simulate "study/series $i" --frames 3 --width 32 --height 24 --seed "$i" -q
done
N=4
# The recipe, with the program's full path and a local "host list".
parallel --sshlogin 2/: --jobs 1 --workdir "$work" \
  "$cli" batch study -o out --shard {}/$N --no-progress \
  ::: $(seq 0 $((N - 1)))
awk 'FNR > 1 || NR == 1' out/summary-*-of-$N.csv > out/summary.csv

fail() { echo "parallel recipe: $*" >&2; exit 1; }
[ "$(ls out/summary-*-of-$N.csv | wc -l)" -eq $N ] || fail "expected $N shard summaries"
[ "$(head -n 1 out/summary.csv)" = "$(head -n 1 out/summary-0-of-$N.csv)" ] ||
  fail "joined header: $(head -n 1 out/summary.csv)"
[ "$(tail -n +2 out/summary.csv | wc -l)" -eq 13 ] || fail "expected 13 rows: $(cat out/summary.csv)"
for i in $(seq 1 13); do
  [ "$(grep -c "^series $i,3,3,correlation,[0-9.]*,.*,done,,[^,]*,[0-9a-f]*$" out/summary.csv)" -eq 1 ] ||
    fail "series $i is not done exactly once"
  [ -f "out/series $i.bmp" ] || fail "no out/series $i.bmp"
done
# More than one shard did work: the split is not everything to one job.
busy=0
for f in out/summary-*-of-$N.csv; do [ "$(wc -l <"$f")" -gt 1 ] && busy=$((busy + 1)); done
[ $busy -ge 2 ] || fail "only $busy shard(s) merged anything"
echo "parallel recipe: 13 series over $N shards, each done once"
