#!/usr/bin/env bash
# The program itself on a session bus of its own (run under dbus-run-session): started with two WAV files
# on the offscreen platform, it answers playerctl as an MPRIS2 player - play-pause, next, previous,
# metadata, volume, stop, status - and ends when asked to quit over the bus.
# Usage: dbus-run-session -- mpris_session.sh PROGRAM
set -euo pipefail
program=$1
export QT_QPA_PLATFORM=offscreen
source "$(dirname "$0")/program_sandbox.sh"
make_tones 10 first.wav:440 second.wav:1000
cd "$work"
"$program" --driver null first.wav second.wav &
pid=$!

pc() { playerctl -p quellwave "$@"; }
# Waits up to 10 s until `pc ARGS` prints the expected text.
expect() {
    local want=$1; shift
    local got=""
    for _ in $(seq 200); do
        got=$(pc "$@" 2>/dev/null || true)
        [ "$got" = "$want" ] && return 0
        sleep 0.05
    done
    echo "playerctl $*: '$got', expected '$want'"
    exit 1
}

expect Stopped status
pc play-pause
expect Playing status
# The tones carry no tags: each shows its file name without the extension.
expect "1 first" metadata --format '{{xesam:trackNumber}} {{xesam:title}}'
pc next
expect "2 second" metadata --format '{{xesam:trackNumber}} {{xesam:title}}'
expect "file://$work/second.wav" metadata xesam:url
expect Playing status
pc previous
expect "1 first" metadata --format '{{xesam:trackNumber}} {{xesam:title}}'
pc volume 0.5
expect 0.500000 volume
# The window takes a pause only once the output has begun (a pause pressed in the moment between play and
# the first sound is not one, for its own keys as for the bus): give the restarted track that moment.
sleep 1
pc play-pause
expect Paused status
pc stop
expect Stopped status
echo "playerctl drove the player: play-pause, next, previous, metadata, volume, stop"

# Quit: the window fades out and the program ends by itself.
dbus-send --session --type=method_call --dest=org.mpris.MediaPlayer2.quellwave /org/mpris/MediaPlayer2 \
    org.mpris.MediaPlayer2.Quit
for _ in $(seq 200); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
done
if kill -0 "$pid" 2>/dev/null; then
    echo "still running after Quit"
    exit 1
fi
status=0
wait "$pid" || status=$?
pid=""
[ "$status" = 0 ] || { echo "ended with $status"; exit 1; }
echo "ended on Quit"
