#!/usr/bin/env bash
# Builds the Debian package from the build's CPack configuration into a scratch folder and checks what
# apt will see: name, version from Version.txt, the Qt 6 and ALSA dependencies, the maintainer scripts,
# the files (no /etc file: the postinst writes the settings), that the programs are built for the package's
# processor, and that the unpacked programs run (through EMULATOR, when they are for another processor).
# Usage: deb_package.sh BUILD_DIR ARCH [EMULATOR...]
set -euo pipefail
build=$1 arch=$2
shift 2
emulator=("$@")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log"; fail "cpack"; }
version=$(head -1 "$build/bin/Version.txt")
deb="$work/out/quellwave_${version}_${arch}.deb"
[ -f "$deb" ] || fail "no $deb in: $(ls "$work/out")"

[ "$(dpkg-deb -f "$deb" Package)" = quellwave ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version is not Version.txt's $version"
[ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "Architecture is $(dpkg-deb -f "$deb" Architecture)"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Architecture: $(dpkg-deb -f "$deb" Architecture)"
echo "Depends: $depends"
names=$(sed 's/ ([^)]*)//g; s/, /\n/g' <<<"$depends")
for package in libqt6core6 libqt6gui6 libqt6widgets6 libasound2 libc6 libstdc++6 qt6-qpa-plugins; do
    grep -qxF "$package" <<<"$names" || fail "no dependency on $package"
done
if grep -Eq 'quellwave|libDiscPilot|libPlatform' <<<"$depends"; then fail "depends on its own libraries"; fi

dpkg-deb -e "$deb" "$work/control"
for script in postinst postrm; do
    [ -x "$work/control/$script" ] || fail "$script missing or not executable"
    sh -n "$work/control/$script" || fail "$script does not parse"
done
grep -q '/etc/quellwave/machine.reg' "$work/control/postinst" || fail "postinst does not write the settings"
grep -q '^activate-noawait ldconfig$' "$work/control/triggers" || fail "no ldconfig trigger"

dpkg-deb -c "$deb" | awk '{print $6}' >"$work/files.txt"
if grep -q '^\./etc/' "$work/files.txt"; then fail "the package carries $(grep '^\./etc/' "$work/files.txt")"; fi
for file in ./usr/bin/quellwave ./usr/bin/quellwave-cli ./usr/share/quellwave/QuellwaveRes.rcc \
            ./usr/share/quellwave/machine.reg ./usr/share/applications/quellwave.desktop \
            ./usr/share/man/man1/quellwave-cli.1.gz; do
    grep -qx "$file" "$work/files.txt" || fail "missing $file"
done
multiarch=$(dpkg-architecture -a "$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)
grep -qx "./usr/lib/$multiarch/libDiscPilot.so" "$work/files.txt" || fail "missing /usr/lib/$multiarch/libDiscPilot.so"

# Unpacked anywhere, the programs run from the package's tree alone, stripped of debugging information.
dpkg-deb -x "$deb" "$work/root"
if readelf -S "$work/root/usr/bin/quellwave" | grep -q '\.debug_info'; then fail "quellwave not stripped"; fi
case "$arch" in
    amd64) machine="Advanced Micro Devices X86-64" ;;
    arm64) machine="AArch64" ;;
    *) machine="" ;;
esac
for binary in "$work/root/usr/bin/quellwave" "$work/root/usr/bin/quellwave-cli" "$work/root"/usr/lib/*/libDiscPilot.so; do
    found=$(readelf -h "$binary" | sed -n 's/^ *Machine: *//p')
    [ -z "$machine" ] || [ "$found" = "$machine" ] || fail "$(basename "$binary") is for $found, not $arch"
done
# The whole help text first: grep -q leaves at its first line, and a pipe into it would end a longer text
# with SIGPIPE.
help=$(${emulator[@]+"${emulator[@]}"} "$work/root/usr/bin/quellwave-cli" --help) || fail "unpacked quellwave-cli --help exits $?"
grep -q "^usage: quellwave-cli" <<<"$help" || fail "unpacked quellwave-cli --help"
echo "package $(basename "$deb"): $(wc -l <"$work/files.txt") entries, $(stat -c %s "$deb") bytes"
