#!/bin/sh
# Installs the build into a temporary prefix (through DESTDIR, as packagers do),
# validates what the desktop reads, and runs the installed program from there
# without a display.
set -eu
build=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR="$tmp/dest" cmake --install "$build" --prefix /opt/vistrel >/dev/null
root="$tmp/dest/opt/vistrel"
id=io.github.vistrel.Vistrel
entry="$root/share/applications/$id.desktop"

[ -x "$root/bin/vistrel" ] || fail "no bin/vistrel"
[ -x "$root/lib/vistrel/vistrel-decoder" ] || fail "no lib/vistrel/vistrel-decoder"
[ ! -e "$root/bin/vistrel-decoder" ] || fail "the decoder is in bin/"
grep -q '^License: MIT' "$root/share/doc/vistrel/copyright" || fail "copyright"
gzip -dc "$root/share/doc/vistrel/changelog.gz" | head -1 | grep -q '^vistrel (0.95.1)' || fail "changelog"
for f in 30861.jpg ScopeReadme.txt; do [ -s "$root/share/vistrel/$f" ] || fail "no share/vistrel/$f"; done

desktop-file-validate "$entry" || fail "desktop entry"
appstreamcli validate --no-net "$root/share/metainfo/$id.metainfo.xml" >"$tmp/appstream.log" 2>&1 ||
    { cat "$tmp/appstream.log" >&2; fail "metainfo"; }
grep -qx 'Exec=vistrel %f' "$entry" || fail "Exec line"
grep -qx 'Categories=Graphics;Viewer;' "$entry" || fail "Categories"
grep -qx "Icon=$id" "$entry" || fail "Icon"
# Every picture type the file chooser offers is one the entry claims.
for t in image/gif image/bmp image/jpeg image/vnd.microsoft.icon image/wmf image/png image/tiff image/webp; do
    grep '^MimeType=' "$entry" | tr ';=' '\n\n' | grep -qx "$t" || fail "MimeType lacks $t"
done

grep -q '<svg' "$root/share/icons/hicolor/scalable/apps/$id.svg" || fail "scalable icon"
for size in 16 24 32 48 64 128 256; do
    icon="$root/share/icons/hicolor/${size}x${size}/apps/$id.png"
    file "$icon" | grep -q "PNG image data, $size x $size" || fail "icon $size: $(file "$icon")"
done

# The man page formats without warnings and names every option of --help.
gzip -dc "$root/share/man/man1/vistrel.1.gz" >"$tmp/vistrel.1" || fail "no man page"
warnings=$(groff -man -ww -z "$tmp/vistrel.1" 2>&1) && [ -z "$warnings" ] || fail "man page: $warnings"
groff -man -Tascii -P-cbou "$tmp/vistrel.1" 2>/dev/null >"$tmp/man.txt"
nodisplay="env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM"
$nodisplay "$root/bin/vistrel" --help | grep -o -- '--[a-z-]*' | sort -u >"$tmp/options"
[ -s "$tmp/options" ] || fail "no options in --help"
while read -r option; do
    [ "$option" = --help-all ] && continue
    grep -q -- "$option" "$tmp/man.txt" || fail "man page lacks $option"
done <"$tmp/options"

[ "$($nodisplay "$root/bin/vistrel" --version)" = "Vistrel 0.95.1" ] || fail "--version"
mkdir "$tmp/out"
$nodisplay "$root/bin/vistrel" --render "$tmp/out" --probe 100,100 "$root/share/vistrel/30861.jpg" || fail "--render"
file "$tmp/out/linescope.png" | grep -q "PNG image data, 420 x 286" || fail "linescope.png"
file "$tmp/out/vectorscope.png" | grep -q "PNG image data, 256 x 266" || fail "vectorscope.png"
echo "installed tree valid"
