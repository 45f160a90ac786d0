#!/usr/bin/env bash
# Starts the real rastova in a virtual X server, finds its window by title,
# converts two files through it from the keyboard and closes it.
# Usage: gui-smoke.sh RASTOVA_EXECUTABLE SAMPLES_FOLDER
set -euo pipefail

if [[ "${1:-}" != --inside ]]; then
    exe=$(realpath "$1")
    samples=$(realpath "$2")
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    mkdir -p "$work/bin" "$work/in" "$work/out"
    # A copy of the program keeps its settings file in the work folder.
    cp "$exe" "$work/bin/rastova"
    cp "$samples/rings.pgm" "$samples/sunset.ppm" "$work/in/"
    printf '[Path]\nOpen=%s\nSave=%s\n[Options]\nTargetFormat=4\n' "$work/in" "$work/out" > "$work/bin/Rastova.ini"
    # Without any display: one line and status 1, not an abort inside Qt.
    status=0
    message=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$work/bin/rastova" 2>&1) || status=$?
    [[ $status == 1 && "$message" == *"no display"*"rastova-convert"* ]] ||
        { echo "gui-smoke: without a display: status $status, said: $message" >&2; exit 1; }
    xvfb-run -a -s "-screen 0 1024x768x24" "$0" --inside "$work"
    exit $?
fi

work=$2
fail() { echo "gui-smoke: $*" >&2; exit 1; }
# The first visible window whose title matches, waiting up to 20 s.
window() {
    local id
    for _ in $(seq 100); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1) || true
        [[ -n "$id" ]] && { echo "$id"; return 0; }
        sleep 0.2
    done
    return 1
}
press() {  # window-title keys...
    local id
    id=$(window "$1") || fail "no window titled $1"
    shift
    xdotool windowfocus --sync "$id"
    sleep 0.3
    xdotool key --clearmodifiers "$@"
}

"$work/bin/rastova" & pid=$!
press '^About$' Escape
# The file list has the focus: select both files and start.
press '^Rastova v1\.11$' ctrl+a ctrl+Return
press '^Rastova$' Return
for name in rings sunset; do
    [[ -s "$work/out/$name.png" ]] || fail "$name.png was not written"
done
press '^Rastova v1\.11$' alt+f x
for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
done
kill -0 "$pid" 2>/dev/null && { kill "$pid"; fail "the window did not close"; }
wait "$pid" || fail "rastova ended with status $?"
grep -q '^Width=' "$work/bin/Rastova.ini" || fail "closing did not store the settings"
echo "gui-smoke: converted rings.png and sunset.png through the window"
