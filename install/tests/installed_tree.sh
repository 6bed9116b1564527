#!/usr/bin/env bash
# "cmake --install" of the build into a scratch root (DESTDIR), then the installed prefix moved elsewhere:
# the layout holds what the desktop and the programs need and no build tools, the machine's settings are
# written only when there are none, and the moved programs run: quellwave-cli plays a WAV file to the null
# output, and quellwave finds every file it loads.
# Usage: installed_tree.sh BUILD_DIR LIBDIR
set -euo pipefail
build=$1 libdir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

DESTDIR="$work/root" cmake --install "$build" --prefix /usr >"$work/install.log"
settings="$work/root/etc/quellwave/machine.reg"
cmp "$settings" "$work/root/usr/share/quellwave/machine.reg" || fail "machine.reg not installed"

# An administrator's settings survive the next install.
echo '"changed"="by the administrator"' >>"$settings"
cp "$settings" "$work/changed.reg"
DESTDIR="$work/root" cmake --install "$build" --prefix /usr >"$work/install2.log"
cmp "$settings" "$work/changed.reg" || fail "a second install replaced the machine's settings"
grep -q "Kept: $settings" "$work/install2.log" || fail "the second install did not say it kept the settings"

# The metainfo, with the launcher and icon it names, as the desktop's software centres read them.
appstreamcli validate-tree --no-net "$work/root" >"$work/tree.txt" 2>&1 || { cat "$work/tree.txt"; fail "validate-tree"; }

# Moved away from the prefix it was installed for: everything is found relative to the programs.
mv "$work/root/usr" "$work/moved"
prefix="$work/moved"
expected=(
    bin/quellwave bin/quellwave-cli
    "$libdir/libDiscPilot.so" "$libdir/libPlatform.so"
    share/quellwave/QuellwaveRes.rcc share/quellwave/skin/Graphite.rcc share/quellwave/quellwave.html
    share/quellwave/Version.txt share/quellwave/machine.reg share/quellwave/Data/Image/volume_dial.png
    share/applications/quellwave.desktop share/metainfo/org.quellwave.quellwave.metainfo.xml
    share/man/man1/quellwave.1.gz share/man/man1/quellwave-cli.1.gz
)
for size in 16 24 32 48 64 128 256; do
    expected+=("share/icons/hicolor/${size}x${size}/apps/quellwave.png")
done
for file in "${expected[@]}"; do
    [ -f "$prefix/$file" ] || fail "missing $file"
done
for size in 16 48 256; do
    python3 - "$prefix/share/icons/hicolor/${size}x${size}/apps/quellwave.png" "$size" <<'PY' || fail "icon ${size}"
import struct, sys
data = open(sys.argv[1], "rb").read(24)
width, height = struct.unpack(">II", data[16:24])
sys.exit(0 if data[:8] == b"\x89PNG\r\n\x1a\n" and width == height == int(sys.argv[2]) else 1)
PY
done
# Only the two programs; the build tools, tests and benchmarks stay in the build tree.
[ "$(ls "$prefix/bin")" = "$(printf 'quellwave\nquellwave-cli')" ] || fail "bin holds: $(ls "$prefix/bin")"
if find "$prefix" -name '*.a' -o -name '*Tests' -o -name '*Bench' -o -name 'quellwave-paint' | grep -q .; then
    fail "build-only files installed"
fi
# No path into the build tree is left in the programs or libraries.
for binary in "$prefix/bin/quellwave" "$prefix/bin/quellwave-cli" "$prefix/$libdir"/*.so; do
    runpath=$(readelf -d "$binary" | grep -E 'RUNPATH|RPATH' || true)
    case "$runpath" in *"$build"*) fail "$binary keeps the build tree in $runpath" ;; esac
    if ldd "$binary" | grep -q "not found"; then fail "$binary: $(ldd "$binary" | grep 'not found')"; fi
    if ldd "$binary" | grep -E 'libDiscPilot|libPlatform' | grep -vq "$prefix/"; then
        fail "$binary loads our libraries from outside the moved prefix: $(ldd "$binary" | grep -E 'DiscPilot|Platform')"
    fi
done

export QUELLWAVE_REGISTRY_DIR="$work/registry" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"
export XDG_RUNTIME_DIR="$work"
mkdir -p "$QUELLWAVE_REGISTRY_DIR"
"$prefix/bin/quellwave-cli" --help >"$work/help.txt" || fail "quellwave-cli --help"
grep -q "^usage: quellwave-cli COMMAND" "$work/help.txt" || fail "quellwave-cli --help printed no usage"

# A 0.5 s 16-bit stereo tone, played to the null output.
python3 - "$work/tone.wav" <<'PY'
import math, struct, sys, wave
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(2); w.setsampwidth(2); w.setframerate(44100)
    w.writeframes(b"".join(struct.pack("<hh", s, s) for s in
                           (int(0.3 * 32767 * math.sin(2 * math.pi * 440 * n / 44100)) for n in range(22050))))
PY
"$prefix/bin/quellwave-cli" play --driver null "$work/tone.wav" >"$work/play.txt" || fail "play exited with $?"
[ "$(tail -1 "$work/play.txt")" = end ] || fail "play did not end properly: $(cat "$work/play.txt")"

# The player loads its resource module, skins and images from the moved share/quellwave.
QT_QPA_PLATFORM=offscreen "$prefix/bin/quellwave" --check-install >"$work/check.txt" || {
    cat "$work/check.txt"; fail "quellwave --check-install"; }
grep -q "^ok      resource module $prefix/share/quellwave/QuellwaveRes.rcc$" "$work/check.txt" ||
    fail "resource module not taken from the installed tree: $(cat "$work/check.txt")"
if grep -v "^ok " "$work/check.txt"; then fail "the installed player misses files"; fi
echo "installed, moved and ran: $(wc -l <"$work/check.txt") files found by quellwave, play ended with: end"
