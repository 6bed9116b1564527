#!/usr/bin/env bash
# The speed of a whole-disc secure rip (both reads of every track, FLAC files, CUE sheet, log) of a
# 60-minute twelve-track image on the virtual drive, and of cd-paranoia's read of the same image in the
# same run, each pinned to one core (taskset -c 1), best of three, as multiples of real time.
# Usage: bench/rip_speed.sh [BUILD_DIR]   (default build/default)
set -euo pipefail
build="${1:-build/default}"
cli="$(cd "$build" && pwd)/Quellwave/cli/quellwave-cli"
[ -x "$cli" ] || { echo "rip_speed: $cli not built" >&2; exit 2; }
command -v cd-paranoia >/dev/null || { echo "rip_speed: cd-paranoia missing (scripts/setup)" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/rip-speed-XXXXXX")
trap 'rm -rf "$work"' EXIT

# Twelve tracks of 5 minutes (22 500 sectors each) of noise-like audio: 270 000 sectors, 60 minutes.
python3 - "$work" <<'PY'
import os, sys
work = sys.argv[1]
sectors, tracks = 22500, 12
with open(os.path.join(work, "disc.bin"), "wb") as out:
    block = os.urandom(2352 * 750)
    for t in range(tracks):
        for i in range(sectors // 750):
            out.write(bytes([(t * 31 + i) & 0xFF]) + block[1:])
with open(os.path.join(work, "disc.cue"), "w") as cue:
    cue.write('FILE "disc.bin" BINARY\n')
    for t in range(tracks):
        at = t * sectors
        cue.write('  TRACK %02d AUDIO\n    INDEX 01 %02d:%02d:%02d\n' % (t + 1, at // 4500, at // 75 % 60, at % 75))
PY
cat >"$work/machine.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Drives]
"V"="image:$work/disc.cue"

[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Quellwave]
"AccurateRipAddress"=""
REG
export QUELLWAVE_REGISTRY_DIR="$work"
seconds=3600

best() { sort -n | head -1; }
timed() { # prints the wall-clock seconds of the command
    local start=$EPOCHREALTIME
    "$@" >/dev/null 2>&1 || { echo "rip_speed: $* failed" >&2; exit 1; }
    awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.3f", b - a }'
}
rip_times=() paranoia_times=()
for round in 1 2 3; do
    rm -rf "$work/out" && mkdir "$work/out"
    rip_times+=("$(timed taskset -c 1 "$cli" rip V --disc "$work/out")")
    rm -f "$work/paranoia.raw"
    paranoia_times+=("$(cd "$work" && timed taskset -c 1 cd-paranoia -d disc.cue -r -- "1-" paranoia.raw)")
done
rip=$(printf '%s\n' "${rip_times[@]}" | best)
paranoia=$(printf '%s\n' "${paranoia_times[@]}" | best)
printf 'whole-disc secure rip (test + copy, FLAC): best %.2f s of %s = %.1fx real time\n' "$rip" "${rip_times[*]}" "$(awk -v s="$seconds" -v t="$rip" 'BEGIN { print s / t }')"
printf 'cd-paranoia -r of the same image:        best %.2f s of %s = %.1fx real time\n' "$paranoia" "${paranoia_times[*]}" "$(awk -v s="$seconds" -v t="$paranoia" 'BEGIN { print s / t }')"
