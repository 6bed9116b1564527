#!/usr/bin/env bash
# The program's window on a screen larger than its panel, where the program starts again scaled: it covers
# the screen to its last pixel, with at most one scaled pixel past the edge where Qt's rounding leaves no
# exact size. EXPECTED is the window's size in pixels (3842x2160 on a 3840 x 2160 screen at 2.8125).
# Usage: window_covers_on_x.sh PROGRAM EXPECTED   (on_xvfb.sh WIDTHxHEIGHT window_covers_on_x.sh ...)
set -euo pipefail
program=$1
expected=$2
source "$(dirname "$0")/program_sandbox.sh"
cd "$work"
"$program" --driver "dsf:$work/out.dsf" &
pid=$!
wait_for_window
# The window's size is set before it is shown; a look half a second later sees any change after that.
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$window")"
screen=$(xdpyinfo | sed -n 's/^ *dimensions: *\([0-9x]*\) pixels.*/\1/p')
echo "screen ${screen}: window ${WIDTH}x${HEIGHT}+${X}+${Y}"
kill -TERM "$pid"
rc=0
wait "$pid" || rc=$?
pid=""
echo "ended with $rc after SIGTERM"
[ "${WIDTH}x${HEIGHT}+${X}+${Y}" = "${expected}+0+0" ] || { echo "expected ${expected}+0+0"; exit 1; }
[ "$rc" = 0 ]
