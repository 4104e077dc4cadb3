#!/usr/bin/env bash
# End to end through the window with keystrokes only: open a photo from the command line, open a
# pattern and save the image through the File menu's mnemonics, then compare the written file
# with captiomark-cli's render of the same pattern at the same zoom ratio (1.0: the window is made
# large enough for the photo to open at actual size).
# Usage: e2e_keystrokes.sh CAPTIOMARK CAPTIOMARK_CLI SOURCE_DIR
set -euo pipefail

# shellcheck source=e2e_session.sh
source "$(dirname "$0")/e2e_session.sh"
[ "${1:-}" = --inner ] || e2e_under_x 1920x1200 "" "$0" "$@"
shift
app=$1 cli=$2 src=$3
e2e_begin
mkdir -p "$work/gui" "$work/cli"
cp "$src/examples/sample-photo.jpg" "$work/gui/photo.jpg"
cp "$src/examples/sample-photo.jpg" "$work/cli/photo.jpg"
cp "$src/examples/sample-pattern.xml" "$work/pattern.xml"
"$cli" settings set ProjectManagerBounds 0,0,1800,1150 >/dev/null
# The explorer in a window of its own below, so that the picture has the whole client area.
"$cli" settings set BottomBounds 0,1150,1800,1190 >/dev/null
"$cli" settings set BottomFloating 1 >/dev/null
e2e_no_tip
e2e_start_wm

fail() {
    echo "FAIL: $*"
    ls -l "$work/gui" "$work/cli" || true
    exit 1
}

"$app" "$work/gui/photo.jpg" >"$work/app.log" 2>&1 &
pid=$!
main=$(wait_window '^Captiomark - .*photo\.jpg$')
[ -n "$main" ] || fail "the main window did not appear ($(cat "$work/app.log"))"
xdotool windowactivate --sync "$main" 2>/dev/null || true
sleep 1

# File > Open Pattern (Alt+F, A).
xdotool key --clearmodifiers alt+f
sleep 0.5
xdotool key a
dialog=$(wait_window '^Open pattern$')
[ -n "$dialog" ] || fail "no Open pattern dialog"
sleep 0.5
xdotool type --delay 20 "$work/pattern.xml"
xdotool key Return
for _ in $(seq 50); do
    [ -z "$(xdotool search --onlyvisible --name '^Open pattern$' 2>/dev/null)" ] && break
    sleep 0.2
done
sleep 0.5

# File > Save Image As (Alt+F, V); the name field starts with the photo's path.
xdotool windowactivate --sync "$main" 2>/dev/null || true
xdotool key --clearmodifiers alt+f
sleep 0.5
xdotool key v
dialog=$(wait_window '^Save image$')
[ -n "$dialog" ] || fail "no Save image dialog"
sleep 0.5
xdotool key ctrl+a
xdotool type --delay 20 "$work/gui/captioned.jpg"
xdotool key Return
for _ in $(seq 100); do
    [ -s "$work/gui/captioned.jpg" ] && break
    sleep 0.2
done
[ -s "$work/gui/captioned.jpg" ] || fail "the window wrote no captioned.jpg ($(cat "$work/app.log"))"
# The "... saved." box, then File > Exit (Alt+F, E).
box=$(wait_window '^Captiomark$')
[ -n "$box" ] || fail "no saved message"
xdotool key Return
sleep 0.5
xdotool windowactivate --sync "$main" 2>/dev/null || true
xdotool key --clearmodifiers alt+f
sleep 0.5
xdotool key e
for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
done
kill -0 "$pid" 2>/dev/null && fail "the window did not close on File > Exit"
pid=""

"$cli" render --pattern "$work/pattern.xml" --zoom 1.0 --output captioned.jpg "$work/cli/photo.jpg" \
    || fail "captiomark-cli render failed"
[ -s "$work/cli/captioned.jpg" ] || fail "the command line wrote no captioned.jpg"

# Same pixels within a small tolerance (both are JPEG encodes of the same picture).
if command -v compare >/dev/null; then
    differing=$(compare -metric AE -fuzz 3% "$work/gui/captioned.jpg" "$work/cli/captioned.jpg" null: 2>&1 || true)
    [ "$differing" = 0 ] || fail "$differing pixels differ between the window's and the command line's output"
    # The pattern really is in there: the captioned photo differs from the bare one.
    bare=$(compare -metric AE -fuzz 3% "$work/gui/captioned.jpg" "$work/gui/photo.jpg" null: 2>&1 || true)
    [ "$bare" != 0 ] || fail "the saved image carries no pattern"
else
    cmp -s "$work/gui/captioned.jpg" "$work/cli/captioned.jpg" || fail "the outputs differ"
fi
echo "PASS: the window's keystroke save equals captiomark-cli render"
