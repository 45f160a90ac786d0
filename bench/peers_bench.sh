#!/usr/bin/env bash
# Rastova beside its peers, interleaved run by run so that a loaded machine
# weighs on both alike:
#   1. one 6000 x 4000 photo-like JPEG -> PNG on every core, against Pillow (time, size);
#   2. the first 8 Kodak photos -> 256 and 16 colours with --quantizer best, against
#      ImageMagick's -dither FloydSteinberg -colors N on one thread (mean PSNR, CPU time);
#   3. half turns of a 6000 x 4000 picture, 24-bit and 8-bit gray (GeometryBench).
# CPU time (user + system) is the fair figure on a shared machine; wall time is given too.
# Usage: bench/peers_bench.sh [build-dir] [runs]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
runs="${2:-3}"
convert_exe="$build/cli/rastova-convert"
py=/usr/bin/python3  # Debian's, with python3-pil
kodak="$root/../shared/testsuites/kodak"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# "wall cpu" of a command, its output thrown away.
timed() {
    /usr/bin/time -f "%e %U %S" -o "$work/t" "$@" >/dev/null 2>&1
    awk '{printf "%.2f %.2f", $1, $2 + $3}' "$work/t"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo "== 1. 6000 x 4000 JPEG -> PNG, $(nproc) cores"
"$py" "$root/bench/make_photo.py" "$work/photo.ppm" 6000 4000
"$convert_exe" -y -f jpg -q 90 -o "$work" "$work/photo.ppm" >/dev/null
cat >"$work/pil_png.py" <<'PY'
import sys
from PIL import Image
Image.open(sys.argv[1]).save(sys.argv[2])
PY
mkdir -p "$work/r" "$work/p"
for run in $(seq "$runs"); do
    read -r rw rc <<<"$(timed "$convert_exe" -y -f png -o "$work/r" "$work/photo.jpg")"
    read -r pw pc <<<"$(timed "$py" "$work/pil_png.py" "$work/photo.jpg" "$work/p/photo.png")"
    printf 'run %d: rastova wall %s cpu %s | Pillow wall %s cpu %s | wall ratio %s\n' "$run" "$rw" "$rc" "$pw" "$pc" \
        "$(ratio "$rw" "$pw")"
done
rs=$(stat -c %s "$work/r/photo.png"); ps=$(stat -c %s "$work/p/photo.png")
printf 'size: rastova %d, Pillow %d, ratio %s\n' "$rs" "$ps" "$(ratio "$rs" "$ps")"

echo "== 2. 8 Kodak photos, --quantizer best against ImageMagick (one thread)"
if [ -f "$kodak/kodim01.png" ]; then
    photos=("$kodak"/kodim0[1-8].png)
    cat >"$work/psnr.py" <<'PY'
import math, sys
from PIL import Image
total = 0.0
pairs = sys.argv[1:]
for a, b in zip(pairs[0::2], pairs[1::2]):
    x = Image.open(a).convert("RGB").tobytes(); y = Image.open(b).convert("RGB").tobytes()
    mse = sum((p - q) * (p - q) for p, q in zip(x, y)) / len(x)
    total += 10 * math.log10(255 * 255 / mse)
print("%.2f" % (total / (len(pairs) // 2)))
PY
    cat >"$work/im.sh" <<'SH'
#!/bin/sh
colors=$1; out=$2; shift 2
for f in "$@"; do convert "$f" -dither FloydSteinberg -colors "$colors" "$out/$(basename "$f")"; done
SH
    for colors in 256 16; do
        mkdir -p "$work/q$colors" "$work/i$colors"
        for run in $(seq "$runs"); do
            read -r rw rc <<<"$(timed "$convert_exe" -j 1 -y -c "$colors" --quantizer best -f png -o "$work/q$colors" "${photos[@]}")"
            read -r iw ic <<<"$(MAGICK_THREAD_LIMIT=1 timed sh "$work/im.sh" "$colors" "$work/i$colors" "${photos[@]}")"
            printf '%s colours run %d: rastova cpu %s | ImageMagick cpu %s | cpu ratio %s\n' "$colors" "$run" "$rc" "$ic" \
                "$(ratio "$rc" "$ic")"
        done
        pairs_r=(); pairs_i=()
        for f in "${photos[@]}"; do
            pairs_r+=("$f" "$work/q$colors/$(basename "$f")"); pairs_i+=("$f" "$work/i$colors/$(basename "$f")")
        done
        printf '%s colours mean PSNR: rastova %s dB, ImageMagick %s dB\n' "$colors" \
            "$("$py" "$work/psnr.py" "${pairs_r[@]}")" "$("$py" "$work/psnr.py" "${pairs_i[@]}")"
    done
else
    echo "Kodak photos not found under $kodak; skipped"
fi

echo "== 3. half turns of 6000 x 4000 (Gpx/s of CPU time)"
"$build/bench/GeometryBench" --benchmark_filter='Rotate(180|90)' 2>/dev/null | grep BM_
