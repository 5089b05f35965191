#!/usr/bin/env bash
# The network window as a user drives it on an X server with a window manager (run by
# under_x.sh): field books dragged from another program and dropped on the window, F5, Ctrl+S
# and Enter in the Save dialog; the workbook must be the one rendle-net writes for the job.
# Usage: network_window_under_x.sh RENDLE-NETWORK RENDLE-NET DRAG-SOURCE EXAMPLES
set -euo pipefail
window_program=$1
net=$2
drag_source=$3
examples=$4

work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
cp "$examples/network/north.gsi" "$examples/network/south.gsi" "$work/"
cd "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }

# Waits for a window whose title matches, and prints its id.
window_named() {
    for _ in $(seq 100); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1) || true
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    return 1
}

"$window_program" --fix BM1=100.000 --class fgcs-1-1 &
network=$(window_named '^Rendle Network') || fail "the window did not show"
"$drag_source" "$work/north.gsi" "$work/south.gsi" &
source=$(window_named '^rendle drag source$') || fail "the drag source did not show"
sleep 0.5

# The drag: press on the source, move over the network window in steps, release there.
eval "$(xdotool getwindowgeometry --shell "$source")"
xdotool mousemove $((X + 60)) $((Y + 50)) mousedown 1
eval "$(xdotool getwindowgeometry --shell "$network")"
for step in 1 2 3 4 5 6 7 8; do
    xdotool mousemove $((X + step * WIDTH / 16)) $((Y + step * HEIGHT / 16))
    sleep 0.1
done
xdotool mousemove $((X + WIDTH / 4)) $((Y + HEIGHT / 3))
sleep 0.3
xdotool mouseup 1
sleep 1

xdotool windowactivate --sync "$network"
xdotool key --window "$network" F5
# Ctrl+S at once: the Save dialog shows when the adjustment ends, offering north.xlsx beside the
# first book dropped.
xdotool key --window "$network" ctrl+s
dialog=$(window_named '^Save workbook$') || fail "Ctrl+S showed no Save dialog"
xdotool windowactivate --sync "$dialog"
xdotool key Return
for _ in $(seq 100); do [ -s north.xlsx ] && break; sleep 0.1; done
[ -s north.xlsx ] || fail "no workbook was saved beside the first book"

"$net" --fix BM1=100.000 --class fgcs-1-1 "$work/north.gsi" "$work/south.gsi" --save net.xlsx \
    >/dev/null || fail "rendle-net did not adjust the job"
python3 - north.xlsx net.xlsx <<'PY' || fail "the window's workbook is not rendle-net's"
import sys, zipfile
a, b = (zipfile.ZipFile(p) for p in sys.argv[1:3])
assert sorted(a.namelist()) == sorted(b.namelist()), "parts differ"
for name in a.namelist():
    if name != "docProps/core.xml":
        assert a.read(name) == b.read(name), name
PY
echo "network window under X: dropped, adjusted, saved: the workbook is rendle-net's"
