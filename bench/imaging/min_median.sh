#!/usr/bin/env bash
# Runs a Google Benchmark binary with repetitions and prints, per benchmark, the minimum and the
# median of the repetitions' wall times (and the minimum CPU time): on a shared host the minimum
# shows the code, the median what a user gets.
#   bench/imaging/min_median.sh BINARY FILTER [repetitions]
set -euo pipefail
"$1" --benchmark_filter="$2" --benchmark_repetitions="${3:-9}" --benchmark_format=json 2>/dev/null |
  python3 -c '
import json, statistics, sys
runs = {}
for b in json.load(sys.stdin)["benchmarks"]:
    if b.get("run_type") == "iteration":
        runs.setdefault(b["run_name"], []).append(b)
for name, bs in runs.items():
    wall = [b["real_time"] for b in bs]
    cpu = [b["cpu_time"] for b in bs]
    label = bs[0].get("label") or name
    print(f"{label:24s} min {min(wall):7.2f}  median {statistics.median(wall):7.2f} ms"
          f"  (cpu min {min(cpu):7.2f})")
'
