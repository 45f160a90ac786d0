#!/usr/bin/env bash
# Redraws doc/rastova-window.png: the main window over the bundled samples,
# all files selected and PNG chosen, photographed in a virtual X server.
# Usage: tools/gui-screenshot.sh [RASTOVA_EXECUTABLE]   (default build/gui/rastova)
# Needs xvfb-run, xdotool and ImageMagick's import.
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ "${1:-}" != --inside ]]; then
    exe=$(realpath "${1:-build/gui/rastova}")
    # A fixed, readable folder name, since it shows in the picture.
    work=${TMPDIR:-/tmp}/rastova-demo
    rm -rf "$work"
    trap 'rm -rf "$work"' EXIT
    mkdir -p "$work/bin" "$work/pictures" "$work/converted"
    cp "$exe" "$work/bin/rastova"
    cp samples/* "$work/pictures/"
    printf '[Path]\nOpen=%s\nSave=%s\n[Options]\nTargetFormat=4\n' "$work/pictures" "$work/converted" \
        > "$work/bin/Rastova.ini"
    xvfb-run -a -s "-screen 0 1024x768x24" "$0" --inside "$work" "$PWD/doc/rastova-window.png"
    exit $?
fi

work=$2
shot=$3
window() {
    for _ in $(seq 100); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1) || true
        [[ -n "$id" ]] && { echo "$id"; return 0; }
        sleep 0.2
    done
    echo "gui-screenshot: no window titled $1" >&2
    return 1
}

"$work/bin/rastova" & pid=$!
about=$(window '^About$')
xdotool windowfocus --sync "$about" key Escape
main=$(window '^Rastova v1\.11$')
xdotool windowfocus --sync "$main" key ctrl+a
sleep 1
eval "$(xdotool getwindowgeometry --shell "$main")"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$shot"
kill "$pid"
echo "gui-screenshot: wrote $shot"
