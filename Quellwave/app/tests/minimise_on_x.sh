#!/usr/bin/env bash
# The program on a real X display (Xvfb) without a window manager: its minimise button pauses playback and
# takes the window off the screen, although no window manager is there to take it; a second start brings
# it back, paused.
# Usage: minimise_on_x.sh PROGRAM   (run on a 1280 x 1024 X screen: on_xvfb.sh 1280x1024 ...)
set -euo pipefail
program=$1
source "$(dirname "$0")/program_sandbox.sh"
make_tones 30 a.wav:440
cd "$work"
"$program" --driver "dsf:$work/out.dsf" a.wav &
pid=$!
wait_for_window
sleep 0.5
xdotool windowfocus --sync "$window" key F6
size() { stat -c %s "$work/out.dsf" 2>/dev/null || echo 0; }
for _ in $(seq 200); do
    [ "$(size)" -gt 1000000 ] && break
    sleep 0.05
done
[ "$(size)" -gt 1000000 ] || { echo "nothing played"; exit 1; }
# The minimise button sits at (974, 16, 16 x 16) of the panel, scaled by 1.25 and centred on the screen.
xdotool mousemove --sync $(( 982 * 5 / 4 )) $(( (1024 - 960) / 2 + 24 * 5 / 4 )) click 1
gone=""
for _ in $(seq 60); do
    [ -z "$(visible_window)" ] && { gone=1; break; }
    sleep 0.05
done
[ -n "$gone" ] || { echo "the window is still on the screen after its minimise button"; exit 1; }
echo "the window left the screen"
# Paused: the recording stops growing.
sleep 1
before=$(size)
sleep 1.5
[ "$(size)" = "$before" ] || { echo "still playing while minimised"; exit 1; }
echo "paused at $before bytes"
# A second start hands over to the running copy, which comes back on the screen.
"$program" --driver "dsf:$work/second.dsf" || { echo "the second start failed"; exit 1; }
back=""
for _ in $(seq 100); do
    [ -n "$(visible_window)" ] && { back=1; break; }
    sleep 0.05
done
[ -n "$back" ] || { echo "the window did not come back"; exit 1; }
echo "back on the screen after a second start"
kill -0 "$pid"
