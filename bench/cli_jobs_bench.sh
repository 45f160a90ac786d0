#!/usr/bin/env bash
# rastova-convert on one core and on all of them: the 24 Kodak photos and eight
# 6000 x 4000 photo-like JPEGs, each batch to PNG, to BMP with 256 colours and to
# gray TIF turned left. Prints files/s, CPU seconds (user + system) and peak
# memory (GNU time), and the speed-up of -j N over -j 1.
# Usage: bench/cli_jobs_bench.sh [build-dir] [kodak-dir]
# The machine may be shared: run both sides back to back and read them together.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
kodak="${2:-$root/../shared/testsuites/kodak}"
convert="$build/cli/rastova-convert"
jobs="$(nproc)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/kodak" "$work/big"
# The sources are JPEGs, as cameras write them.
"$convert" --quiet -j "$jobs" -f jpg -q 90 -o "$work/kodak" -y "$kodak"/*.png
python3 "$root/bench/make_photo.py" "$work/photo.ppm" 6000 4000
"$convert" --quiet -f jpg -q 90 -o "$work/big" -y "$work/photo.ppm"
for i in 2 3 4 5 6 7 8; do cp "$work/big/photo.jpg" "$work/big/photo$i.jpg"; done
rm "$work/photo.ppm"

run() {  # batch label jobs options...
    local batch="$1" label="$2" j="$3"; shift 3
    local files=("$work/$batch"/*.jpg)
    rm -rf "$work/out"
    /usr/bin/time -f '%e %U %S %M' -o "$work/time.txt" \
        "$convert" --quiet -j "$j" -o "$work/out" -y "$@" "${files[@]}"
    read -r wall user sys rss <"$work/time.txt"
    local rate
    rate=$(awk -v n="${#files[@]}" -v w="$wall" 'BEGIN { printf "%.2f", n / (w > 0 ? w : 0.01) }')
    printf '%-6s %-22s -j %-2s %3d files  wall %7.2f s  %7s files/s  CPU %7.2f s  peak %5d MB\n' \
        "$batch" "$label" "$j" "${#files[@]}" "$wall" "$rate" "$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')" \
        $((rss / 1024))
    echo "$rate" >"$work/rate-$j"
}

compare() {  # batch label options...
    local batch="$1" label="$2"; shift 2
    run "$batch" "$label" 1 "$@"
    run "$batch" "$label" "$jobs" "$@"
    awk -v a="$(cat "$work/rate-1")" -v b="$(cat "$work/rate-$jobs")" -v j="$jobs" \
        'BEGIN { printf "       speed-up -j %d over -j 1: %.2fx\n", j, b / a }'
}

echo "rastova-convert -j 1 against -j $jobs ($(nproc) online CPUs)"
for batch in kodak big; do
    compare "$batch" "JPG -> PNG" -f png
    compare "$batch" "JPG -> BMP 256 colours" -f bmp -c 256
    compare "$batch" "JPG -> gray TIF, left" -f tif -c gray -r left
done
