#!/usr/bin/env bash
# Whole conversions of a 6000 x 4000 photo-like PPM through rastova-convert:
# wall time and peak memory (GNU time). Usage: bench/job_bench.sh [build-dir]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
convert="$build/cli/rastova-convert"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

python3 "$root/bench/make_photo.py" "$work/photo.ppm" 6000 4000
echo "source: 6000 x 4000 photo-like PPM, $(stat -c %s "$work/photo.ppm") bytes"
echo "peak-memory target: 2.5 x 72 MB + 20 MB = 200 MB"

run() {
    local label="$1"; shift
    /usr/bin/time -v "$convert" -y -o "$work/out" "$@" "$work/photo.ppm" >/dev/null 2>"$work/time.txt" || true
    local wall rss
    wall=$(grep 'Elapsed (wall clock)' "$work/time.txt" | awk '{print $NF}')
    rss=$(grep 'Maximum resident set size' "$work/time.txt" | awk '{print $NF}')
    printf '%-28s wall %8s   peak %6d MB\n' "$label" "$wall" $((rss / 1024))
}

run "-c 256 -f bmp" -c 256 -f bmp
run "-c true -f ppm" -c true -f ppm
if [ -n "${RASTOVA_BENCH_JPG:-}" ]; then
    run "-f jpg" -f jpg -q 90
    run "-f png" -f png
fi
