# Sourced by the scripts that run the program itself: a scratch folder that holds the program's settings
# (the start-up notice already dismissed), play list and instance socket, removed on exit, and generated
# stereo tones to play. Defines `work`, and `pid` for the program the script starts (killed on exit).
# Under the address sanitizer: what the system's D-Bus library keeps is not ours to report.
export LSAN_OPTIONS="suppressions=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
work=$(mktemp -d)
pid=""
trap 'if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi; rm -rf "$work"' EXIT
export QUELLWAVE_REGISTRY_DIR="$work/registry" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache"
export XDG_RUNTIME_DIR="$work"
mkdir -p "$QUELLWAVE_REGISTRY_DIR"
cat > "$QUELLWAVE_REGISTRY_DIR/user.reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Orva Corporation\Quellwave\Settings]
"NoDispNext"=dword:00000001
REG

# visible_window: the program's visible window, if one is shown. wait_for_window: waits for it into
# `window`, up to 60 s by the clock (the arm64 emulator beside another test takes over 10 s to show it),
# and ends the script with "no window" when none appears.
visible_window() { xdotool search --onlyvisible --class quellwave 2>/dev/null | head -1 || true; }
wait_for_window() {
    window=""
    local deadline=$((SECONDS + 60))
    while [ $SECONDS -lt $deadline ]; do
        window=$(visible_window)
        [ -n "$window" ] && return 0
        sleep 0.05
    done
    echo "no window"
    exit 1
}

# make_tones SECONDS NAME:HZ ...: 16-bit 44.1 kHz stereo sine tones at -10 dBFS in $work. A whole number of
# hertz repeats every second, so one second is computed and written as often as needed (long tones stay quick).
make_tones() {
    /usr/bin/python3 - "$work" "$@" <<'PY'
import math, struct, sys, wave
folder, seconds = sys.argv[1], float(sys.argv[2])
frames = int(seconds * 44100)
for tone in sys.argv[3:]:
    name, freq = tone.split(":")
    second = b"".join(struct.pack("<hh", s, s) for s in
                      (int(0.3 * 32767 * math.sin(2 * math.pi * int(freq) * n / 44100)) for n in range(44100)))
    with wave.open(f"{folder}/{name}", "wb") as w:
        w.setnchannels(2); w.setsampwidth(2); w.setframerate(44100)
        for _ in range(frames // 44100):
            w.writeframes(second)
        w.writeframes(second[:(frames % 44100) * 4])
PY
}
