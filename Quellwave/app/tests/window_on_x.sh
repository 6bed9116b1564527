#!/usr/bin/env bash
# The program on a real X display (Xvfb): started with two WAV files it shows its full-screen window, plays
# both to the dsf: output after F6, and ends cleanly with its fade when its close button is clicked.
# Usage: window_on_x.sh PROGRAM   (run on a 1280 x 1024 X screen: on_xvfb.sh 1280x1024 ...)
set -euo pipefail
program=$1
source "$(dirname "$0")/program_sandbox.sh"
# Two 1.5-second tones, 440 Hz and 1 kHz.
make_tones 1.5 a.wav:440 b.wav:1000
cd "$work"
start=$(date +%s%N)
"$program" --driver "dsf:$work/out.dsf" a.wav b.wav &
pid=$!
# The waits below are for an event, each with a deadline generous enough for the arm64 emulator on a busy
# machine (where start-up and the close each take many times as long as natively); none measures a pace.
wait_for_window
shown=$(date +%s%N)
eval "$(xdotool getwindowgeometry --shell "$window")"
echo "window shown after $(( (shown - start) / 1000000 )) ms at ${WIDTH}x${HEIGHT}+${X}+${Y}"
[ "$WIDTH" = 1280 ] && [ "$HEIGHT" = 1024 ] || { echo "not full screen"; exit 1; }
sleep 0.5
xdotool windowfocus --sync "$window" key F6
# Both tracks play in 3 s of audio, recorded as fast as the up-converter runs (slower than the audio plays
# under the arm64 emulator on a busy machine): wait until the recording holds at least 3 s of DSD64 (two
# channels of 352 800 bytes a second) and has not grown for 8 s (the engine hands the output several
# blocks at a time, far apart under the emulator), the play list having ended.
last=-1 steady=0
for _ in $(seq 1200); do
    size=$(stat -c %s "$work/out.dsf" 2>/dev/null || echo 0)
    if [ "$size" -ge $(( 3 * 2 * 352800 )) ] && [ "$size" = "$last" ]; then steady=$((steady + 1)); else steady=0; fi
    [ "$steady" -ge 40 ] && break
    last=$size
    sleep 0.2
done
echo "recorded $(stat -c %s "$work/out.dsf") bytes before the click"
# The close button sits at (992, 16, 16 x 16) of the panel, which is scaled by 1.25 to fill the screen's
# width (1280 x 960) and centred on it.
xdotool mousemove --sync $(( (1280 - 1280) / 2 + 1000 * 5 / 4 )) $(( (1024 - 960) / 2 + 24 * 5 / 4 )) click 1
clicked=$(date +%s%N)
deadline=$((SECONDS + 60))
while [ $SECONDS -lt $deadline ]; do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
done
if kill -0 "$pid" 2>/dev/null; then echo "still running 60 s after the close button"; exit 1; fi
rc=0
wait "$pid" || rc=$?
echo "ended with $rc, $(( ($(date +%s%N) - clicked) / 1000000 )) ms after the click"
[ "$rc" = 0 ]
# What reached the output, decoded: both tones, each for about its 1.5 s, the lower one first.
ffmpeg -v error -i "$work/out.dsf" -ac 1 -ar 44100 -f s16le "$work/out.raw"
/usr/bin/python3 - "$work/out.raw" <<'PY'
import sys
import numpy as np
pcm = np.fromfile(sys.argv[1], dtype="<i2").astype(np.float64) / 32768
block = 4410  # 0.1 s
found = []
for i in range(0, len(pcm) - block, block):
    part = pcm[i:i + block]
    if np.sqrt(np.mean(part ** 2)) < 0.05:
        continue
    spectrum = np.abs(np.fft.rfft(part * np.hanning(block)))
    found.append(round(np.argmax(spectrum) * 44100 / block))
print("tones by 0.1 s:", found)
low = [i for i, f in enumerate(found) if abs(f - 440) <= 20]
high = [i for i, f in enumerate(found) if abs(f - 1000) <= 20]
sys.exit(0 if len(low) >= 12 and len(high) >= 12 and max(low) < min(high) else 1)
PY
