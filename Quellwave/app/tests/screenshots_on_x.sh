#!/usr/bin/env bash
# Screenshots of the program itself on a real X display of the given size: the window in file and disc
# mode, stopped and playing, with the time left and with the tray open, and the dialogs over it (start-up
# notice, settings with its DSD rate list open, about box, file selection with its name suggestions and its
# file type list open, help, drive check, a message box), as PNG files in OUTDIR named
# <size>-<what>.png; then what is playing: a tagged FLAC and an untagged WAV, each with a cover beside it,
# the play list card, and the same panel with the titles off. The checks only make sure each picture was
# taken and is not blank; looking at them is for people.
# Usage: xvfb-run -s "-screen 0 WxHx24" screenshots_on_x.sh PROGRAM OUTDIR [all|files|disc|titles]
set -euo pipefail
program=$1
out=$2
part=${3:-all}
mkdir -p "$out"
source "$(dirname "$0")/program_sandbox.sh"
make_tones 20 a.wav:440 b.wav:660
cd "$work"
size=$(xdpyinfo 2>/dev/null | awk '/dimensions:/ {print $2}' | head -1 || true)
[ -n "$size" ] || size=$(xwininfo -root | awk '/-geometry/ {sub(/\+.*/, "", $2); print $2}')
W=${size%x*}
H=${size#*x}
# The panel's scale on this screen: the largest that fits, in steps of 1/64.
scale=${PANEL_SCALE:-$(python3 -c "import math; print(max(1.0, min(3.0, math.floor(min($W / 1024, $H / 768) * 64) / 64)))")}
# Screen point of a panel point.
at() { python3 -c "s=$scale; print(round(($W - 1024 * s) / 2 + $1 * s), round(($H - 768 * s) / 2 + $2 * s))"; }

shot() {
    sleep "${2:-0.8}"
    ffmpeg -v error -y -f x11grab -video_size "${W}x${H}" -i "$DISPLAY" -frames:v 1 "$out/$size-$1.png"
    python3 - "$out/$size-$1.png" <<'PY'
import sys, zlib, struct
data = open(sys.argv[1], "rb").read()
assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
PY
    echo "shot $out/$size-$1.png"
}
# The program's full-screen window (not the notice's).
window_of() {
    for _ in $(seq 400); do
        WIDTH=0 HEIGHT=0
        for w in $(xdotool search --onlyvisible --class quellwave 2>/dev/null || true); do
            eval "$(xdotool getwindowgeometry --shell "$w" 2>/dev/null | grep -E '^(WIDTH|HEIGHT)=' || true)"
            # Full screen, to the pixel or two a fractional scale may round away.
            if [ "${WIDTH:-0}" -ge $((W - 3)) ] && [ "${HEIGHT:-0}" -ge $((H - 3)) ]; then
                echo "$w"
                return 0
            fi
        done
        sleep 0.05
    done
    echo "no window" >&2
    exit 1
}
click() { xdotool mousemove --sync $(at "$1" "$2") click 1; }
# Clicks in the program's smaller visible window (a dialog) at a fraction of its width and a distance in
# panel points above its bottom edge.
click_in_dialog() {
    local X Y WIDTH HEIGHT found=""
    # The root's own children, top to bottom: the first viewable one of the program that is not full screen.
    for w in $(xwininfo -root -children | awk '/"quellwave"/ {print $1}'); do
        xwininfo -id "$w" | grep -q "IsViewable" || continue
        eval "$(xdotool getwindowgeometry --shell "$w" 2>/dev/null | grep -E '^(X|Y|WIDTH|HEIGHT)=' || true)"
        if [ "${WIDTH:-0}" -lt $((W - 3)) ]; then
            found="$X $Y $WIDTH $HEIGHT"
            break
        fi
    done
    [ -n "$found" ] || { echo "no dialog" >&2; exit 1; }
    read -r X Y WIDTH HEIGHT <<< "$found"
    xdotool mousemove --sync $(python3 -c "print(round($X + $WIDTH * $1), round($Y + $HEIGHT - $2 * $scale))") click 1
}
quit_program() {
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=""
}

if [[ $part == all || $part == files ]]; then
# 1. The start-up notice, before the window.
sed -i 's/"NoDispNext"=dword:00000001/"NoDispNext"=dword:00000000/' "$QUELLWAVE_REGISTRY_DIR/user.reg"
"$program" --driver null a.wav b.wav &
pid=$!
sleep 3
shot notice 0.5
xdotool key Return
win=$(window_of)
shot file-stopped
xdotool windowfocus --sync "$win" key F6
shot file-playing 1.5
# The time left instead of the time played (T), and back.
xdotool windowfocus --sync "$win" key t
shot file-remaining 1.5
xdotool windowfocus --sync "$win" key t
# The file selection over the panel (the open button, where the eject button is in disc mode).
click 116 131
shot dialog-file-select 1.5
# The file name's suggestions: a letter typed into the name field, which has the focus.
xdotool type --delay 100 D
shot dialog-file-suggestions 1
xdotool key Escape
xdotool key ctrl+a BackSpace
# The file type list beside it, opened.
xdotool key Tab
xdotool key alt+Down
shot dialog-file-type-list 1
xdotool key Escape
sleep 0.3
xdotool key Escape
sleep 0.5
# The settings, and the about box from them.
click 820 111
shot dialog-settings 1.2
# The DSD rate list, opened: the lowest row of the dialog's fields.
click_in_dialog 0.37 92
shot dialog-settings-rate-list 1
xdotool key Escape
sleep 0.3
# Its "About Quellwave..." button, bottom left.
click_in_dialog 0.15 26
shot dialog-about 1
xdotool key Escape
sleep 0.3
xdotool key Escape
sleep 0.3
# HELP: the page in the desktop's viewer, or where the desktop has none (as here), in the program's own.
click 912 111
shot dialog-help 1.5
xdotool key Escape
sleep 0.3
quit_program
fi

if [[ $part == all || $part == disc ]]; then
# 2. Disc mode with a disc image of three tracks in drive V: the drive check asks first.
python3 - "$work" <<'PY'
import math, struct, sys
folder = sys.argv[1]
frames = 44100 * 30
with open(f"{folder}/disc.bin", "wb") as f:
    for n in range(3 * frames):
        s = int(0.25 * 32767 * math.sin(2 * math.pi * 440 * n / 44100))
        f.write(struct.pack("<hh", s, s))
# The disc names itself (CD-Text): the album, its performer and each track's title.
with open(f"{folder}/disc.cue", "w") as f:
    f.write('TITLE "Harbour Lights"\nPERFORMER "Ines Moreau"\nFILE "disc.bin" BINARY\n')
    for t, title in enumerate(["Prelude at Dawn", "Tide Song", "Night Harbour"]):
        sectors = t * frames // 588
        f.write(f"  TRACK {t + 1:02d} AUDIO\n    TITLE \"{title}\"\n")
        f.write(f"    INDEX 01 {sectors // 4500:02d}:{sectors // 75 % 60:02d}:{sectors % 75:02d}\n")
PY
cat > "$QUELLWAVE_REGISTRY_DIR/machine.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Drives]
"V"="image:$work/disc.cue"
REG
cat > "$QUELLWAVE_REGISTRY_DIR/user.reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Orva Corporation\Quellwave\Settings]
"NoDispNext"=dword:00000001
"DefaultMode"=dword:00000000
"DefaultDrive"=dword:00000056
REG
"$program" --driver null &
pid=$!
win=$(window_of)
shot disc-drive-check 2
# Cancelled, the check says so in a message box.
xdotool key Escape
shot dialog-message-box 1
xdotool key Return
sleep 1
shot disc-stopped
xdotool windowfocus --sync "$win" key F6
shot disc-playing 2
# A typed track number on the display.
xdotool windowfocus --sync "$win" key 3
shot disc-entry 0.3
# The tray opened by the eject button, then closed again by Play, which plays the disc.
sleep 2.5
click 116 131
shot disc-open 1
xdotool windowfocus --sync "$win" key F6
shot disc-closed-playing 2
quit_program
fi

if [[ $part == all || $part == titles ]]; then
# 3. What is playing: a tagged FLAC with a cover.jpg beside it, an untagged WAV with a folder.jpg, the list.
mkdir -p "$work/album" "$work/loose"
ffmpeg -v error -y -f lavfi -i "sine=frequency=440:duration=30:sample_rate=44100" -ac 2 \
    -metadata title="Sonata in A major, D. 959: II. Andantino" -metadata artist="Mira Kessel" \
    -metadata album="Late Sonatas" "$work/album/02 andantino.flac"
ffmpeg -v error -y -f lavfi -i "gradients=s=600x600:c0=0x3a2a5e:c1=0xc9863a:nb_colors=2:seed=7" \
    -frames:v 1 "$work/album/cover.jpg"
make_tones 30 "loose/field recording 03.wav:330"
ffmpeg -v error -y -f lavfi -i "mandelbrot=s=500x500" -frames:v 1 "$work/loose/folder.jpg"
cat > "$QUELLWAVE_REGISTRY_DIR/user.reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Orva Corporation\Quellwave\Settings]
"NoDispNext"=dword:00000001
"DefaultMode"=dword:00000001
REG
"$program" --driver null "$work/album/02 andantino.flac" "$work/loose/field recording 03.wav" a.wav b.wav &
pid=$!
win=$(window_of)
xdotool windowfocus --sync "$win" key F6
shot titles-tagged-flac 1.5
xdotool windowfocus --sync "$win" key ctrl+Right
shot titles-untagged-wav 1.5
xdotool windowfocus --sync "$win" key l
xdotool windowfocus --sync "$win" key Down
shot titles-list-card 1
xdotool windowfocus --sync "$win" key Escape
quit_program
# The titles off: the panel as it was, the same track playing.
sed -i 's/"DefaultMode"=dword:00000001/"DefaultMode"=dword:00000001\n"ShowTitles"=dword:00000000/' \
    "$QUELLWAVE_REGISTRY_DIR/user.reg"
"$program" --driver null "$work/album/02 andantino.flac" a.wav &
pid=$!
win=$(window_of)
xdotool windowfocus --sync "$win" key F6
shot titles-off 1.5
quit_program
fi
echo "screenshots of $size in $out"
