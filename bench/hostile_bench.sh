#!/usr/bin/env bash
# Small hostile files (bench/hostile_files.py) through rastova-convert with the
# default settings on one job: CPU time (user + system) and peak memory of each,
# against the goal of at most 2 s and 1 GB. Usage: bench/hostile_bench.sh [build-dir ...]
# Several build folders are measured side by side, file by file.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
builds=("$@")
[ ${#builds[@]} -gt 0 ] || builds=("$root/build")
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

python3 "$root/bench/hostile_files.py" "$work/in" >"$work/sizes.tsv"
printf '%-28s %10s  %-12s %8s %9s  %s\n' file bytes build "CPU s" "peak MB" result
while IFS=$'\t' read -r name size; do
    for build in "${builds[@]}"; do
        rm -rf "$work/out"
        status=0
        /usr/bin/time -v "$build/cli/rastova-convert" -j 1 -y -o "$work/out" "$work/in/$name" \
            >"$work/log.txt" 2>"$work/time.txt" || status=$?
        user=$(grep 'User time' "$work/time.txt" | awk '{print $NF}')
        sys=$(grep 'System time' "$work/time.txt" | awk '{print $NF}')
        rss=$(grep 'Maximum resident set size' "$work/time.txt" | awk '{print $NF}')
        result=$([ "$status" -eq 0 ] && echo "converted" || echo "refused (exit $status)")
        printf '%-28s %10s  %-12s %8.2f %9d  %s\n' "$name" "$size" "$(basename "$(dirname "$build")")/$(basename "$build")" \
            "$(echo "$user + $sys" | bc)" $((rss / 1024)) "$result"
    done
done <"$work/sizes.tsv"
