#!/usr/bin/env bash
# lumifold-cli volume against batch over the same positions given as
# separate series, with the same --jobs: wall time (best of REPEATS) and
# peak resident memory (GNU time) of each.
# Usage: volume_vs_batch.sh CLI PYTHONPATH FOLDER [POSITIONS] [REPEATS_PER_POSITION] [REPEATS]
# The volume (one interleaved TIFF) and the study are made once in FOLDER.
set -euo pipefail
cli=$1
pythonpath=$2
folder=$3
positions=${4:-100}
per=${5:-5}
repeats=${6:-3}
volume="$folder/volume-$positions-$per"
study="$folder/study-$positions-$per"
if [ ! -f "$volume/volume.tif" ]; then
  "$cli" simulate "$volume" --positions "$positions" --repeats "$per" --layout interleaved --width 512 --height 496 \
    --section classic -q
fi
if [ ! -d "$study" ]; then
  # Position p's frames as a series of its own, unmarked frame files.
  PYTHONPATH="$pythonpath" /usr/bin/python3 - "$volume/volume.tif" "$study" "$positions" "$per" <<'PY'
import os, sys
import lumifold
frames = lumifold.read(sys.argv[1])
study, P, R = sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
for p in range(P):
    folder = os.path.join(study, f"p{p:03}")
    os.makedirs(folder)
    for r in range(R):
        lumifold.write(os.path.join(folder, f"frame_{r}.tif"), frames[r * P + p], mark=False)
PY
fi
jobs=$(nproc)
echo "volume of $positions positions x $per repeats of 512 x 496 (interleaved TIFF) against batch of $positions series, --jobs $jobs (load: $(cut -d' ' -f1-3 /proc/loadavg)):"
best_volume=""
best_batch=""
for r in $(seq 1 "$repeats"); do
  rm -rf "$folder/out-batch" "$folder/out-volume.tif"
  /usr/bin/time -f "%e %M" -o "$folder/volume.time" "$cli" volume "$volume/volume.tif" --repeats "$per" \
    --layout interleaved -o "$folder/out-volume.tif" --jobs "$jobs" -q
  /usr/bin/time -f "%e %M" -o "$folder/batch.time" "$cli" batch "$study" -o "$folder/out-batch" --jobs "$jobs" \
    --grey --format tif -q
  read -r tv mv < "$folder/volume.time"
  read -r tb mb < "$folder/batch.time"
  if [ -z "$best_volume" ] || awk -v a="$tv" -v b="$best_volume" 'BEGIN { exit !(a < b) }'; then best_volume=$tv; peak_volume=$mv; fi
  if [ -z "$best_batch" ] || awk -v a="$tb" -v b="$best_batch" 'BEGIN { exit !(a < b) }'; then best_batch=$tb; peak_batch=$mb; fi
done
awk -v v="$best_volume" -v b="$best_batch" -v mv="$peak_volume" -v mb="$peak_batch" 'BEGIN {
  printf "  volume %6.2f s, peak %5.1f MB\n  batch  %6.2f s, peak %5.1f MB\n", v, mv / 1024, b, mb / 1024
  printf "  volume / batch time x%.2f (target at most 1.10): %s; volume peak under 100 MB: %s\n", v / b,
    (v <= 1.10 * b ? "met" : "missed"), (mv / 1024 < 100 ? "met" : "missed") }'
