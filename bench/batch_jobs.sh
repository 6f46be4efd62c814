#!/usr/bin/env bash
# lumifold-cli batch with --jobs 1 against --jobs 2 (and every core) on a
# simulated study: wall time, best of REPEATS runs each, taken in turn so
# that a change in the machine's load touches both alike.
# Usage: batch_jobs.sh CLI FOLDER [SERIES] [FRAMES] [REPEATS]
# The study is simulated into FOLDER/study once and kept for later runs.
set -euo pipefail
cli=$1
folder=$2
series=${3:-24}
frames=${4:-16}
repeats=${5:-3}
study="$folder/study-$series-$frames"
if [ ! -d "$study" ]; then
  mkdir -p "$study"
  for i in $(seq 1 "$series"); do
    "$cli" simulate "$study/s$i" --frames "$frames" --width 512 --height 496 --seed "$i" --section classic -q
  done
fi
cores=$(nproc)
counts=(1 2)
[ "$cores" -gt 2 ] && counts+=("$cores")
echo "batch of $series series of $frames frames of 512 x 496 on $cores cores (load: $(cut -d' ' -f1-3 /proc/loadavg)):"
for algorithm in correlation anterior-edge; do
  declare -A best=()
  for r in $(seq 1 "$repeats"); do
    for jobs in "${counts[@]}"; do
      out="$folder/out-$jobs"
      rm -rf "$out"
      start=$(date +%s.%N)
      "$cli" batch "$study" -o "$out" --jobs "$jobs" -a "$algorithm" -q
      t=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f", b - a }')
      if [ -z "${best[$jobs]:-}" ] || awk -v a="$t" -v b="${best[$jobs]}" 'BEGIN { exit !(a < b) }'; then
        best[$jobs]=$t
      fi
    done
  done
  for jobs in "${counts[@]}"; do
    awk -v alg="$algorithm" -v j="$jobs" -v t="${best[$jobs]}" -v one="${best[1]}" -v n="$((series * frames))" \
      'BEGIN { printf "  %-14s --jobs %-3s %7.2f s  %6.1f frames/s  x%.2f\n", alg, j, t, n / t, one / t }'
  done
done
