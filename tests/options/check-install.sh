#!/usr/bin/env bash
# cmake --install into a temporary prefix puts every file where the program looks for it.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
missing=0
for f in bin/captiomark bin/captiomark-cli \
    share/applications/captiomark.desktop \
    share/icons/hicolor/scalable/apps/captiomark.svg \
    share/icons/hicolor/16x16/apps/captiomark.png \
    share/icons/hicolor/48x48/apps/captiomark.png \
    share/icons/hicolor/256x256/apps/captiomark.png \
    share/captiomark/Language/English.lng \
    share/captiomark/guide/index.html; do
    [ -e "$prefix/$f" ] || { echo "missing after install: $f"; missing=1; }
done
[ -x "$prefix/bin/captiomark-cli" ] || { echo "captiomark-cli is not executable"; missing=1; }
# Every PNG size is a square picture of its folder's size.
for png in "$prefix"/share/icons/hicolor/*x*/apps/captiomark.png; do
    size=$(basename "$(dirname "$(dirname "$png")")")
    got=$(python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); print("%dx%d" % struct.unpack(">II", d[16:24]))' "$png")
    [ "$got" = "$size" ] || { echo "$png is $got"; missing=1; }
done
[ "$missing" = 0 ] && echo "install layout complete"
exit $missing
