#!/usr/bin/env bash
# Renders the application icon's PNG sizes from its SVG (rsvg-convert, else ImageMagick).
# The PNGs are checked in; run this after changing the SVG.
set -euo pipefail
cd "$(dirname "$0")/../data/icons/hicolor"
svg=scalable/apps/captiomark.svg
for size in 16 22 24 32 48 64 128 256; do
    mkdir -p "${size}x${size}/apps"
    out="${size}x${size}/apps/captiomark.png"
    if command -v rsvg-convert >/dev/null; then
        rsvg-convert -w "$size" -h "$size" "$svg" -o "$out"
    else
        convert -background none "$svg" -resize "${size}x${size}" "$out"
    fi
done
echo "icons written under $(pwd)"
