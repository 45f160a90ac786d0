#!/usr/bin/env bash
# The whole conversion of a 6000 x 4000 photo-like JPEG (quality 90) to PNG through
# rastova-convert: wall time and peak memory (GNU time). The JPEG is made from the
# photo-like PPM of make_photo.py by the converter itself.
# Usage: bench/jpg_to_png.sh [build-dir]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
convert="$build/cli/rastova-convert"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

python3 "$root/bench/make_photo.py" "$work/photo.ppm" 6000 4000
mkdir -p "$work/jpg" "$work/png"
"$convert" -y -f jpg -q 90 -o "$work/jpg" "$work/photo.ppm" >/dev/null
source="$work/jpg/photo.jpg"
echo "source: 6000 x 4000 JPEG, quality 90, $(stat -c %s "$source") bytes"

/usr/bin/time -v "$convert" -y -f png -o "$work/png" "$source" >/dev/null 2>"$work/time.txt"
wall=$(grep 'Elapsed (wall clock)' "$work/time.txt" | awk '{print $NF}')
rss=$(grep 'Maximum resident set size' "$work/time.txt" | awk '{print $NF}')
printf 'jpg -> png   wall %s   peak %d MB   output %d bytes\n' "$wall" $((rss / 1024)) \
    "$(stat -c %s "$work/png/photo.png")"
