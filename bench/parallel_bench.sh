#!/usr/bin/env bash
# The parallel runner against one thread: throughput and peak memory (GNU time)
# on the 24 Kodak photos and on eight 6000 x 4000 photos made from one of them.
# Usage: bench/parallel_bench.sh [build-dir] [threads]   (needs ImageMagick's convert)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
threads="${2:-2}"
driver="$build/bench/rastova-job-driver"
kodak="$root/../shared/testsuites/kodak"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
mkdir -p "$work/big"
for i in 1 2 3 4 5 6 7 8; do
    convert "$kodak/kodim0$i.png" -resize '6000x4000!' -quality 90 "$work/big/photo$i.jpg"
done

run() {  # label threads target colours files...
    local label="$1" n="$2" target="$3" colours="$4"; shift 4
    rm -rf "$work/out"
    /usr/bin/time -v "$driver" "$n" "$target" "$colours" "$work/out" "$@" >"$work/run.txt" 2>"$work/time.txt"
    local rss
    rss=$(grep 'Maximum resident set size' "$work/time.txt" | awk '{print $NF}')
    printf '%-34s %s   peak %5d MB\n' "$label" "$(cat "$work/run.txt")" $((rss / 1024))
}

for set in kodak big; do
    if [ "$set" = kodak ]; then files=("$kodak"/kodim*.png); else files=("$work/big"/*.jpg); fi
    for pass in 1 2; do
        run "$set png->jpg, 1 thread" 1 jpg 4 "${files[@]}"
        run "$set png->jpg, $threads threads" "$threads" jpg 4 "${files[@]}"
    done
    run "$set ->png 256 colours, 1 thread" 1 png 2 "${files[@]}"
    run "$set ->png 256 colours, $threads threads" "$threads" png 2 "${files[@]}"
done
echo "peak-memory bound for the big set: $threads x 2.5 x 72 MB + 20 MB = $((threads * 180 + 20)) MB"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
