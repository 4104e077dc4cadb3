#!/usr/bin/env bash
# End to end through the window with the keys and the mouse of every desktop program: snap to
# the grid from the View menu and drag a brick, select all and duplicate, save the pattern as a
# new file, undo, save again, and zoom with Ctrl and the wheel around the pointer. What the window did is
# read back from the saved pattern files and measured on screenshots.
# Usage: e2e_designer_habits.sh CAPTIOMARK
set -euo pipefail

# shellcheck source=e2e_session.sh
source "$(dirname "$0")/e2e_session.sh"
[ "${1:-}" = --inner ] || e2e_under_x 1920x1200 "import convert iconv" "$0" "$@"
shift
app=$1
e2e_begin
e2e_no_tip

fail() {
    echo "FAIL: $*"
    [ -n "${E2E_SHOTS:-}" ] && import -window root "$E2E_SHOTS/failed.png"
    cat "$work/app.log" 2>/dev/null | grep -v 'propagateSizeHints\|XDG_RUNTIME' || true
    exit 1
}

# A plain magenta photo, so that the picture is found on the screen by its colour.
convert -size 600x400 xc:'#FF00FF' "BMP3:$work/photo.bmp"
# Two text bricks; the grid step is 10 and snapping is off.
text_pattern "False False" "10 10 False" Mark 103 57 Other 300 250 >"$work/pattern.xml"
e2e_start_wm

brick_count() {
    pattern_text "$1" | grep -o '<Brick ' | wc -l
}

"$app" "$work/photo.bmp" >"$work/app.log" 2>&1 &
pid=$!
main=$(wait_window '^Captiomark - .*photo\.bmp$')
[ -n "$main" ] || fail "the main window did not appear ($(cat "$work/app.log"))"
xdotool windowsize --sync "$main" 1800 1100 2>/dev/null || true
xdotool windowmove --sync "$main" 0 0 2>/dev/null || true
xdotool windowactivate --sync "$main" 2>/dev/null || true
sleep 1

open_pattern_by_keys "$work/pattern.xml"

read -r w h x0 y0 <<<"$(picture_box)"
[ "$w" = 600 ] && [ "$h" = 400 ] || fail "the photo is not shown at actual size: $w x $h"

# View > Snap to Grid, then drag Mark by (27, 14): with a step of 10 its corner lands on
# (130, 70), the multiples of 10 nearest below 103 + 27 and 57 + 14.
xdotool key --clearmodifiers alt+v
sleep 0.5
xdotool key s
sleep 0.5
grab_x=$((x0 + 103 + 8)) grab_y=$((y0 + 57 + 12))
xdotool mousemove "$grab_x" "$grab_y" click 1
sleep 0.5
xdotool mousemove "$grab_x" "$grab_y" mousedown 1
sleep 0.3
for step in 1 2 3; do
    xdotool mousemove $((grab_x + 9 * step)) $((grab_y + 14 * step / 3))
    sleep 0.2
done
xdotool mouseup 1
sleep 0.5
shot dragged

# Ctrl+A, Ctrl+D: a copy of each; Ctrl+Shift+S saves the pattern under a new name.
xdotool key --clearmodifiers ctrl+a
sleep 0.5
shot selected
xdotool key --clearmodifiers ctrl+d
sleep 0.5
shot duplicated
save_pattern_as_by_keys "$work/saved.xml"
[ "$(brick_count "$work/saved.xml")" = 4 ] || fail "4 bricks expected after duplicating, saved $(brick_count "$work/saved.xml")"
[ "$(brick_place "$work/saved.xml" Mark)" = "130 70" ] ||
    fail "the dragged brick is at $(brick_place "$work/saved.xml" Mark), not on the grid at 130 70"
[ "$(brick_place "$work/saved.xml" Other)" = "300 250" ] || fail "the other brick moved"

# Ctrl+Z takes the copies away; Ctrl+S saves to that file without asking.
cp "$work/saved.xml" "$work/first.xml"
xdotool key --clearmodifiers ctrl+z
sleep 0.5
xdotool key --clearmodifiers ctrl+s
sleep 1.5
[ -n "$(xdotool search --onlyvisible --name '^Save pattern' 2>/dev/null)" ] && fail "Save asked again"
[ "$(brick_count "$work/saved.xml")" = 2 ] || fail "2 bricks expected after undo, saved $(brick_count "$work/saved.xml")"
# A second Ctrl+Z takes the drag back.
xdotool key --clearmodifiers ctrl+z
sleep 0.5
xdotool key --clearmodifiers ctrl+s
sleep 1.5
[ "$(brick_place "$work/saved.xml" Mark)" = "103 57" ] ||
    fail "undo left the brick at $(brick_place "$work/saved.xml" Mark)"

# Ctrl and the wheel over the picture: one notch up is the next zoom level (120 %), and one down
# the level before; a picture that still fits the view stays centred where it was. (Keeping the
# point under the pointer once the picture overflows the view is measured headless.)
cx=$((x0 + 300)) cy=$((y0 + 200))
xdotool mousemove $((x0 + 450)) $((y0 + 300))
sleep 0.3
xdotool keydown ctrl click 4 keyup ctrl
sleep 1
read -r w1 h1 x1 y1 <<<"$(picture_box)"
[ "$w1" = 720 ] && [ "$h1" = 480 ] || fail "Ctrl+wheel up gave $w1 x $h1, not 720 x 480"
dx=$((x1 + 360 - cx)) dy=$((y1 + 240 - cy))
[ "${dx#-}" -le 1 ] && [ "${dy#-}" -le 1 ] || fail "the zoomed picture moved off centre by $dx, $dy"
# The plain wheel scrolls or does nothing; it never zooms.
xdotool click 5
sleep 0.5
read -r w2 h2 _ _ <<<"$(picture_box)"
[ "$w2" = 720 ] || fail "the wheel without Ctrl zoomed to $w2 x $h2"
xdotool keydown ctrl click 5 keyup ctrl
sleep 1
read -r w3 h3 _ _ <<<"$(picture_box)"
[ "$w3" = 600 ] && [ "$h3" = 400 ] || fail "Ctrl+wheel down gave $w3 x $h3, not 600 x 400"

kill "$pid" 2>/dev/null || true
pid=""
echo "PASS: grid drag, select all, duplicate, save, undo and Ctrl+wheel zoom by keys and mouse"
