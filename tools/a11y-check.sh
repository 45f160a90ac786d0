#!/usr/bin/env bash
# Starts rastova in a virtual X server with an accessibility bus and prints the
# tree that screen readers and desktop automation see (tools/a11y-tree.py).
# Usage: tools/a11y-check.sh [RASTOVA_EXECUTABLE]   (default build/gui/rastova)
# Needs: xvfb xauth xdotool dbus-x11 at-spi2-core python3-pyatspi gir1.2-atspi-2.0
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ "${1:-}" != --inside ]]; then
    exe=$(realpath "${1:-build/gui/rastova}")
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    mkdir -p "$work/bin"
    cp "$exe" "$work/bin/rastova"
    printf '[Path]\nOpen=%s\n' "$PWD/samples" > "$work/bin/Rastova.ini"
    xvfb-run -a -s "-screen 0 1024x768x24" dbus-run-session -- "$0" --inside "$work"
    exit $?
fi

work=$2
/usr/libexec/at-spi-bus-launcher --launch-immediately & bus=$!
sleep 1
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1 "$work/bin/rastova" & pid=$!
for _ in $(seq 100); do
    about=$(xdotool search --onlyvisible --name '^About$' 2>/dev/null | head -1) || true
    [[ -n "$about" ]] && break
    sleep 0.2
done
xdotool windowfocus --sync "$about" key Escape
sleep 1
status=0
/usr/bin/python3 tools/a11y-tree.py || status=$?
kill "$pid" "$bus" 2>/dev/null || true
exit $status
