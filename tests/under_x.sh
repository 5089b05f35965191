#!/usr/bin/env bash
# Runs a command on a virtual X display of WIDTHxHEIGHT with a window manager (openbox), as on a
# user's desktop: windows get frames, focus and real key events from the X server, which the
# offscreen platform does not give. Usage: under_x.sh 1024x768 COMMAND [ARGUMENTS...]
set -euo pipefail
size=$1
shift

work=$(mktemp -d)
cleanup() {
    [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null || true
    [ -n "${server:-}" ] && kill "$server" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The server picks a free display itself and says which (no race between tests run at once).
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
server=$!
read -r -t 20 number <"$work/display" || { cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$number"
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY

HOME="$work" openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm=$!
# The window manager is up once it has named itself on the root window.
for _ in $(seq 100); do
    if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then break; fi
    sleep 0.1
done
xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id' || {
    echo "openbox did not start" >&2
    cat "$work/openbox.log" >&2
    exit 1
}
"$@"
