#!/usr/bin/env bash
# Runs a command on an X server of its own: a virtual screen of the given size (Xvfb) at a display number
# the server takes whole (its lock file and both its sockets), reached with a cookie only this run knows.
# Before the command starts, a client with that cookie must see the server and its screen's size, so a
# command never runs against a display another server holds (another test, or a server on the same
# machine that /tmp's lock files do not show). A server that fails that check is stopped and another
# started, up to five times; each failure prints what the server logged and what holds the X displays.
# Usage: on_xvfb.sh WIDTHxHEIGHT COMMAND [ARG...]
set -euo pipefail
size=$1
shift
dir=$(mktemp -d)
xpid=""
stop_server() {
    if [ -n "$xpid" ]; then
        kill "$xpid" 2>/dev/null || true
        wait "$xpid" 2>/dev/null || true
        xpid=""
    fi
}
trap 'stop_server; rm -rf "$dir"' EXIT

report() {
    echo "on_xvfb: $1" >&2
    sed 's/^/on_xvfb: Xvfb: /' "$dir/log" >&2 || true
    echo "on_xvfb: lock files: $(ls /tmp/.X*-lock 2>/dev/null | tr '\n' ' ')" >&2
    if command -v ss >/dev/null; then
        ss -xl 2>/dev/null | grep -o '@\?/tmp/.X11-unix/X[0-9]*' | sort -u | sed 's/^/on_xvfb: listening: /' >&2 || true
    fi
}

cookie=$(mcookie)
# The server loads every cookie in its file whatever display the entry names; the client's file names the
# display the server chose.
XAUTHORITY="$dir/server" xauth -q add :0 . "$cookie" 2>/dev/null
for attempt in 1 2 3 4 5; do
    : >"$dir/display"
    Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -auth "$dir/server" 3>"$dir/display" 2>"$dir/log" &
    xpid=$!
    # The server writes its display number once it listens; the deadline is for a machine many times
    # slower than this one, not a pace.
    deadline=$((SECONDS + 60))
    while [ ! -s "$dir/display" ] && kill -0 "$xpid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do
        sleep 0.05
    done
    number=$(tr -dc 0-9 <"$dir/display")
    if [ -z "$number" ]; then
        report "attempt $attempt: the server gave no display number"
        stop_server
        continue
    fi
    rm -f "$dir/client"
    XAUTHORITY="$dir/client" xauth -q add ":$number" . "$cookie" 2>/dev/null
    seen=$(DISPLAY=":$number" XAUTHORITY="$dir/client" xdpyinfo 2>&1 | sed -n 's/^ *dimensions: *\([0-9x]*\) pixels.*/\1/p' || true)
    if [ "$seen" = "$size" ]; then
        set +e
        DISPLAY=":$number" XAUTHORITY="$dir/client" "$@"
        rc=$?
        set -e
        exit $rc
    fi
    report "attempt $attempt: display :$number did not answer as this run's ${size} server (saw '${seen}')"
    stop_server
done
echo "on_xvfb: no X server of our own after 5 attempts" >&2
exit 1
