#!/usr/bin/env bash
# The program on a real X display (Xvfb) and a session bus of its own (dbus-run-session), with a stand-in
# screen saver service: dbus-monitor sees Inhibit on org.freedesktop.ScreenSaver when play starts and
# UnInhibit at pause and at stop; then SIGTERM while playing to dsf: ends the program as its close button
# does: the recording ends with the fade-out and has a valid header, and PlayList.txt and the settings are
# as they were.
# Usage: on_xvfb.sh 1920x1080 dbus-run-session -- screensaver_session.sh PROGRAM STANDIN
set -euo pipefail
program=$1
standin=$2
source "$(dirname "$0")/program_sandbox.sh"
# The dsf: recorder has no clock: it takes the stream as fast as the converter makes it (tens of times real
# time), so the tone is long enough to be still playing at every step below however fast the machine is.
make_tones 600 a.wav:440
cd "$work"

dbus-monitor --session "interface='org.freedesktop.ScreenSaver'" > "$work/monitor.log" 2>&1 &
monitor=$!
"$standin" > "$work/standin.log" 2>&1 &
saver=$!
trap 'kill $monitor $saver 2>/dev/null || true; if [ -n "$pid" ]; then kill -9 "$pid" 2>/dev/null || true; fi; rm -rf "$work"' EXIT
for _ in $(seq 100); do grep -q ready "$work/standin.log" && break; sleep 0.05; done
grep -q ready "$work/standin.log" || { echo "the stand-in screen saver did not start"; cat "$work/standin.log"; exit 1; }

"$program" --driver "dsf:$work/out.dsf" a.wav 2> "$work/program.log" &
pid=$!
wait_for_window
sleep 0.5

# Waits up to 5 s for a line of the stand-in's log.
saw() {
    for _ in $(seq 100); do grep -qx "$1" "$work/standin.log" && return 0; sleep 0.05; done
    echo "the screen saver never heard '$1'; it heard:"; cat "$work/standin.log"; cat "$work/program.log"; exit 1
}
key() { xdotool windowfocus --sync "$window" key "$1"; }
key F6; saw "Inhibit 1 Quellwave"; echo "play: Inhibit"
sleep 1 # a pause only counts once the output has begun
key F6; saw "UnInhibit 1"; echo "pause: UnInhibit"
key F6; saw "Inhibit 2 Quellwave"; echo "play: Inhibit"
sleep 2
# The stop button (440, 237, 32 x 32 on the panel, which is scaled to fill the screen's height).
xdotool mousemove --sync $(python3 -c "s = 1080 / 768; print(round((1920 - 1024 * s) / 2 + 456 * s), round(253 * s))") click 1
saw "UnInhibit 2"; echo "stop: UnInhibit"
key F6; saw "Inhibit 3 Quellwave"
sleep 2
echo "what dbus-monitor saw:"
grep -E "member=(Inhibit|UnInhibit)" "$work/monitor.log" | sed 's/^/  /'
[ "$(grep -c "member=Inhibit" "$work/monitor.log")" -ge 3 ] && [ "$(grep -c "member=UnInhibit" "$work/monitor.log")" -ge 2 ] ||
    { echo "dbus-monitor missed calls"; exit 1; }

# SIGTERM while playing: the same ending as the close button, within a second or two.
playlist=$(find "$work" -name PlayList.txt | head -1)
[ -n "$playlist" ] || { echo "no PlayList.txt"; exit 1; }
before_list=$(md5sum < "$playlist")
before_settings=$(md5sum < "$QUELLWAVE_REGISTRY_DIR/user.reg")
sent=$(date +%s%N)
kill -TERM "$pid"
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
if kill -0 "$pid" 2>/dev/null; then echo "still running 5 s after SIGTERM"; exit 1; fi
rc=0
wait "$pid" || rc=$?
pid=""
echo "ended with $rc, $(( ($(date +%s%N) - sent) / 1000000 )) ms after SIGTERM"
[ "$rc" = 0 ] || exit 1
saw "UnInhibit 3"
[ "$(md5sum < "$playlist")" = "$before_list" ] || { echo "PlayList.txt changed"; exit 1; }
[ "$(md5sum < "$QUELLWAVE_REGISTRY_DIR/user.reg")" = "$before_settings" ] || { echo "the settings changed"; exit 1; }
echo "PlayList.txt and the settings as they were"

# The recording: a valid DSF header whose sizes match the file, and a tone that fades out before the end.
/usr/bin/python3 - "$work/out.dsf" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
assert data[0:4] == b"DSD " and struct.unpack_from("<Q", data, 4)[0] == 28, "DSD chunk"
total = struct.unpack_from("<Q", data, 12)[0]
assert total == len(data), f"file size field {total}, file {len(data)}"
assert data[28:32] == b"fmt ", "fmt chunk"
fmt_size = struct.unpack_from("<Q", data, 32)[0]
at = 28 + fmt_size
assert data[at:at + 4] == b"data", "data chunk"
data_size = struct.unpack_from("<Q", data, at + 4)[0]
assert at + data_size == len(data), f"data chunk {data_size} does not reach the end"
print(f"header valid: {len(data)} bytes, data chunk {data_size}")
PY
ffmpeg -v error -i "$work/out.dsf" -ac 1 -ar 44100 -f s16le "$work/out.raw"
/usr/bin/python3 - "$work/out.raw" <<'PY'
import sys
import numpy as np
pcm = np.fromfile(sys.argv[1], dtype="<i2").astype(np.float64) / 32768
# The tone's level half-cycle by half-cycle (between zero crossings): a fade shows falling peaks before the
# silence, a cut goes from full to nothing within one half-cycle.
full = np.percentile(np.abs(pcm), 99.5)
loud = np.nonzero(np.abs(pcm) > 0.5 * full)[0]
end = loud[-1] + 1
start = max(0, end - 44100 // 10)
part = pcm[start:end + 441]
signs = np.signbit(part)
crossings = np.nonzero(signs[1:] != signs[:-1])[0] + 1
peaks = [np.max(np.abs(part[a:b])) for a, b in zip(crossings[:-1], crossings[1:]) if b > a]
between = [p for p in peaks if 0.15 * full < p < 0.85 * full]
after = pcm[end + 441:]
print(f"full level {full:.3f}; last half-cycle peaks: " + " ".join(f"{p / full:.2f}" for p in peaks[-8:]))
print(f"{len(between)} half-cycles between 15 % and 85 % before the silence")
assert len(between) >= 2, "the tone stops without a fade"
assert len(after) == 0 or np.max(np.abs(after)) < 0.05 * full, "sound after the fade"
PY
echo "the recording ends with the fade-out"
