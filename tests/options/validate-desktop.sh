#!/usr/bin/env bash
# The desktop entry: opens photos of the four types and passes desktop-file-validate.
set -euo pipefail
file=$1
grep -qx 'Exec=captiomark %F' "$file" || { echo "Exec line missing"; exit 1; }
grep -qx 'MimeType=image/jpeg;image/gif;image/bmp;image/png;' "$file" || { echo "MimeType line missing"; exit 1; }
grep -qx 'Icon=captiomark' "$file" || { echo "Icon line missing"; exit 1; }
if ! command -v desktop-file-validate >/dev/null; then
    echo "desktop-file-validate not installed (apt package desktop-file-utils): skipped"
    exit 77
fi
out=$(desktop-file-validate "$file" 2>&1) || { echo "$out"; exit 1; }
# It reports hints on stdout with a zero exit code; a clean file prints nothing.
[ -z "$out" ] || { echo "$out"; exit 1; }
echo "desktop entry valid"
