"""The Python module's merge against the engine's, on the same frames.

    python_bench.py --bench build-bench/bin/lumifold_bench --data build-bench/series [--quick]

Reads the benchmarks' cached 100-frame 512 x 496 series into one
(100, 496, 512) uint8 array and times lumifold.merge on it, in rounds that
alternate with lumifold_bench --from-memory (the same merge of the same
frames held in memory, in C++), so that both see the same load; prints the
medians and the ratio, whose target is at most 1.1.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

import lumifold

TARGET = 1.1


def engine_medians(bench, data, quick):
    """The median ms of each lumifold_bench --from-memory merge, by registration."""
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        subprocess.run([bench, "--data", data, "--from-memory", *(["--quick"] if quick else []),
                        f"--benchmark_out={out.name}", "--benchmark_out_format=json"],
                       check=True, stdout=subprocess.DEVNULL)
        report = json.load(open(out.name))
    medians = {}
    for run in report["benchmarks"]:
        if run.get("aggregate_name") == "median":
            algorithm = run["run_name"].split("/")[1]
            medians[algorithm] = run["real_time"]
    return medians


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bench", required=True)
    parser.add_argument("--data", required=True)
    parser.add_argument("--quick", action="store_true")
    args = parser.parse_args()
    # Each round: the engine's median of its repetitions (7, --quick 3),
    # then as many merges here.
    rounds, repetitions = (1, 3) if args.quick else (3, 7)
    engine = {algorithm: [] for algorithm in lumifold.ALGORITHMS}
    mine = {algorithm: [] for algorithm in lumifold.ALGORITHMS}
    frames = None
    for _ in range(rounds):
        # The first run writes the series into the cache.
        for algorithm, ms in engine_medians(args.bench, args.data, args.quick).items():
            engine[algorithm].append(ms)
        if frames is None:
            frames = lumifold.read_series(os.path.join(args.data, "512x496-100f-seed2024"))
            assert frames.shape == (100, 496, 512) and frames.dtype.name == "uint8", frames.shape
        for algorithm in lumifold.ALGORITHMS:
            for _ in range(repetitions):
                start = time.perf_counter()
                lumifold.merge(frames, algorithm)
                mine[algorithm].append((time.perf_counter() - start) * 1e3)

    print(f"\nPython module against the engine, (100, 496, 512) uint8 from memory, medians over "
          f"{rounds} round(s) of {repetitions}; load average {os.getloadavg()[0]:.2f}")
    print(f"  {'':24} {'engine ms':>10} {'lumifold.merge ms':>18} {'ratio':>7}")
    met = True
    for algorithm in lumifold.ALGORITHMS:
        cpp = statistics.median(engine[algorithm])
        py = statistics.median(mine[algorithm])
        met = met and py / cpp <= TARGET
        print(f"  {algorithm:24} {cpp:10.1f} {py:18.1f} {py / cpp:6.3f}x")
    print(f"  lumifold.merge at most {TARGET}x the engine: {'met' if met else 'NOT MET'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
