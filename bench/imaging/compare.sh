#!/usr/bin/env bash
# Side-by-side timings of the imaging code and ImageMagick / djpeg on the same generated pictures
# (1920x1080 and 3840x2160 plasma fractals, and quality-90 JPEGs of them). Prints medians in ms.
# Usage: bench/imaging/compare.sh [BUILD_DIR]   (default: build; needs the imaging_bench target)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
bench=$build/bench/imaging/imaging_bench
magick=convert-im6.q16
runs=${RUNS:-7}
[ -x "$bench" ] || { echo "compare.sh: build the imaging_bench target in $build first" >&2; exit 1; }
command -v $magick >/dev/null || { echo "compare.sh: $magick (imagemagick) is missing" >&2; exit 1; }
command -v djpeg >/dev/null || { echo "compare.sh: djpeg (libjpeg-turbo-progs) is missing" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# ImageMagick single-threaded, as its figures in the project's notes were taken.
export MAGICK_THREAD_LIMIT=1

median_ms() { # command... ; runs it $runs times, prints the median wall time in ms
  local times=()
  for _ in $(seq "$runs"); do
    local t0 t1
    t0=$(date +%s%N); "$@" >/dev/null 2>&1; t1=$(date +%s%N)
    times+=($(( (t1 - t0) / 1000 )))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.1f", a[int((NR+1)/2)]/1000}'
}

for size in 1920x1080 3840x2160; do
  $magick -seed 7 -size $size plasma:fractal -depth 8 "$work/$size.mpc"
  $magick "$work/$size.mpc" -quality 90 "$work/$size.jpg"
done

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "ImageMagick ($magick, one thread): the operation alone = run with it - run without it"
printf '%-12s %-10s %10s\n' operation size ms
for size in 1920x1080 3840x2160; do
  base=$(median_ms $magick "$work/$size.mpc" null:)
  for op in "-rotate 90" "-swirl 180" "-blur 0x11"; do
    with=$(median_ms $magick "$work/$size.mpc" $op null:)
    printf '%-12s %-10s %10s\n' "$op" "$size" "$(awk -v a="$with" -v b="$base" 'BEGIN {printf "%.1f", a - b}')"
  done
  printf '%-12s %-10s %10s\n' "djpeg -bmp" "$size" "$(median_ms djpeg -bmp -outfile /dev/null "$work/$size.jpg")"
done

echo
echo "imaging_bench (medians of 5 repetitions; JPEG rows decode the same files as djpeg):"
TARNWICK_BENCH_JPEGS="$work/1920x1080.jpg:$work/3840x2160.jpg" "$bench" --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true 2>/dev/null | grep -E '_median|^Benchmark|^---'
