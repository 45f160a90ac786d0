#!/usr/bin/env bash
# WebP, AVIF and JPEG XL through the library against the formats' own tools, on
# one thread, with the same settings and files: encoding a photo-like JPEG
# (quality 90) against cwebp, avifenc and cjxl, and decoding the tools' files
# against dwebp, heif-convert and djxl. Best of REPS runs, wall and CPU seconds.
# Usage: bench/photo_codecs.sh [build-dir] [WIDTHxHEIGHT] [REPS]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
size="${2:-1600x1200}"
reps="${3:-3}"
driver="$build/bench/rastova-photo-driver"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

python3 "$root/bench/make_photo.py" "$work/photo.ppm" "${size%x*}" "${size#*x}"
"$driver" "$work/photo.ppm" "$work/photo.jpg" 90
echo "source: $size JPEG, quality 90, $(stat -c %s "$work/photo.jpg") bytes; best of $reps"

# Best wall and CPU (user + system) seconds of a command over the runs.
best() {
    local wall=999999 cpu=999999 line w c
    for _ in $(seq "$reps"); do
        /usr/bin/time -o "$work/time.txt" -f '%e %U %S' "$@" >/dev/null 2>&1
        line=$(tail -1 "$work/time.txt")
        w=$(echo "$line" | awk '{print $1}')
        c=$(echo "$line" | awk '{print $2 + $3}')
        wall=$(echo "$w $wall" | awk '{print ($1 < $2) ? $1 : $2}')
        cpu=$(echo "$c $cpu" | awk '{print ($1 < $2) ? $1 : $2}')
    done
    echo "$wall $cpu"
}

row() {  # label, ours..., --, theirs...
    local label="$1"; shift
    local ours=() theirs=()
    while [ "$1" != "--" ]; do ours+=("$1"); shift; done; shift
    theirs=("$@")
    read -r ow oc < <(best "${ours[@]}")
    read -r tw tc < <(best "${theirs[@]}")
    printf '| %-22s | %6.2f | %10.2f | %6.2f | %10.2f | %8.2fx |\n' "$label" "$ow" "$oc" "$tw" "$tc" \
        "$(echo "$oc $tc" | awk '{print ($2 > 0) ? $1 / $2 : 0}')"
}

# libheif's aom coder turns quality q into the constant-quality level
# (100 - q) x 63 / 100, rounded, which avifenc is given directly.
avif_q=60
cq=$(( ((100 - avif_q) * 63 + 50) / 100 ))

echo "| step                   | ours s | ours cpu s | tool s | tool cpu s | cpu ratio |"
echo "|------------------------|--------|------------|--------|------------|-----------|"
row "JPEG -> WebP q75" "$driver" "$work/photo.jpg" "$work/o.webp" 75 -- \
    cwebp -quiet -q 75 -m 4 "$work/photo.jpg" -o "$work/t.webp"
row "JPEG -> AVIF q$avif_q" "$driver" "$work/photo.jpg" "$work/o.avif" "$avif_q" -- \
    avifenc -j 1 -s 6 --min 0 --max 63 -a end-usage=q -a cq-level="$cq" -a tune=ssim "$work/photo.jpg" "$work/t.avif"
row "JPEG -> JPEG XL q90" "$driver" "$work/photo.jpg" "$work/o.jxl" 90 -- \
    cjxl "$work/photo.jpg" "$work/t.jxl" -d 1 -e 7 --lossless_jpeg=0 --num_threads=0 --quiet
row "WebP -> PPM" "$driver" "$work/t.webp" "$work/d1.ppm" -- dwebp "$work/t.webp" -ppm -o "$work/d2.ppm"
row "AVIF -> PNG" "$driver" "$work/t.avif" "$work/d1.png" -- heif-convert "$work/t.avif" "$work/d2.png"
row "JPEG XL -> PPM" "$driver" "$work/t.jxl" "$work/d1.ppm" -- djxl "$work/t.jxl" "$work/d2.ppm" --num_threads=1
echo "sizes: ours webp $(stat -c %s "$work/o.webp"), avif $(stat -c %s "$work/o.avif"), jxl $(stat -c %s "$work/o.jxl");" \
     "tools webp $(stat -c %s "$work/t.webp"), avif $(stat -c %s "$work/t.avif"), jxl $(stat -c %s "$work/t.jxl")"
