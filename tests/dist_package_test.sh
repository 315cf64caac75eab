#!/bin/sh
# Builds the Debian package, extracts it into a temporary folder and runs the
# program it holds from there, without a display.
set -eu
build=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$tmp/pkg" >"$tmp/cpack.log" 2>&1 || { cat "$tmp/cpack.log" >&2; fail "cpack"; }
deb=$(ls "$tmp"/pkg/vistrel_*.deb)
[ -f "$deb" ] || fail "no package"

dpkg-deb -f "$deb" Package | grep -qx vistrel || fail "package name"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6widgets6 libqt6gui6 libwmf libraw qt6-image-formats-plugins qt6-wayland libc6; do
    echo "$depends" | grep -q "$needed" || fail "Depends lacks $needed: $depends"
done

dpkg-deb -x "$deb" "$tmp/root"
program="$tmp/root/usr/bin/vistrel"
for f in usr/share/vistrel/30861.jpg usr/share/applications/io.github.vistrel.Vistrel.desktop \
         usr/share/metainfo/io.github.vistrel.Vistrel.metainfo.xml usr/share/man/man1/vistrel.1.gz; do
    [ -s "$tmp/root/$f" ] || fail "package lacks $f"
done

nodisplay="env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM"
[ "$($nodisplay "$program" --version)" = "Vistrel 0.95.1" ] || fail "--version"
mkdir "$tmp/out"
$nodisplay "$program" --render "$tmp/out" --scope y "$tmp/root/usr/share/vistrel/30861.jpg" || fail "--render"
file "$tmp/out/linescope.png" | grep -q "PNG image data, 420 x 286" || fail "linescope.png"
file "$tmp/out/vectorscope.png" | grep -q "PNG image data, 256 x 266" || fail "vectorscope.png"
echo "package $(basename "$deb") runs"
