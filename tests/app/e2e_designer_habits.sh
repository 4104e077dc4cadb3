#!/usr/bin/env bash
# End to end through the window with the keys and the mouse of every desktop program: snap to
# the grid from the View menu and drag a brick, select all and duplicate, save the pattern as a
# new file, undo, save again, and zoom with Ctrl and the wheel around the pointer. What the window did is
# read back from the saved pattern files and measured on screenshots.
# Usage: e2e_designer_habits.sh CAPTIOMARK
set -euo pipefail

if [ "${1:-}" != --inner ]; then
    for tool in xvfb-run xdotool import convert iconv; do
        if ! command -v "$tool" >/dev/null; then
            echo "SKIP: $tool is not installed"
            exit 0
        fi
    done
    exec xvfb-run -a -s "-screen 0 1920x1200x24" bash "$0" --inner "$@"
fi
shift
app=$1
work=$(mktemp -d)
pid=""
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
unset QT_QPA_PLATFORM
export QT_QPA_PLATFORM=xcb
export CAPTIOMARK_CONFIG_DIR=$work/config
mkdir -p "$CAPTIOMARK_CONFIG_DIR"
printf '[Preferences]\nShowTip=false\n' >"$CAPTIOMARK_CONFIG_DIR/Captiomark.ini"

fail() {
    echo "FAIL: $*"
    [ -n "${E2E_SHOTS:-}" ] && import -window root "$E2E_SHOTS/failed.png"
    cat "$work/app.log" 2>/dev/null | grep -v 'propagateSizeHints\|XDG_RUNTIME' || true
    exit 1
}
# With E2E_SHOTS set to a folder, a screenshot of each step goes there.
shot() {
    [ -n "${E2E_SHOTS:-}" ] && import -window root "$E2E_SHOTS/$1.png"
    return 0
}

# A plain magenta photo, so that the picture is found on the screen by its colour.
convert -size 600x400 xc:'#FF00FF' "BMP3:$work/photo.bmp"
# Two text bricks; the grid step is 10 and snapping is off.
crlf='%CR%LF'
brick() { # name left top
    printf '<Brick Body="object %s: TText%s  Left = %s%s  Top = %s%s  Caption = '"'"'%s'"'"'%send"/>\n' \
        "$1" "$crlf" "$2" "$crlf" "$3" "$crlf" "$1" "$crlf"
}
{
    printf '<?xml version="1.0" encoding="UTF-8"?>\n<Project Name="e2e">\n'
    printf '<Inspector Left="0" Top="0" Width="1" Height="1" ColWidth="1" Sort="False" AlwaysOnTop="False"/>\n'
    printf '<Designer Left="0" Top="0" Width="1" Height="1" GridX="10" GridY="10" IsGrid="False"/>\n'
    printf '<Manager Left="0" Top="0" Width="1" Height="1"/>\n<Bricks>\n'
    brick Mark 103 57
    brick Other 300 250
    printf '</Bricks>\n</Project>\n'
} >"$work/pattern.xml"

if command -v openbox >/dev/null; then
    openbox >/dev/null 2>&1 &
    wm=$!
    sleep 1
fi

wait_window() {
    timeout 20 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -1 || true
}
wait_gone() {
    for _ in $(seq 50); do
        [ -z "$(xdotool search --onlyvisible --name "$1" 2>/dev/null)" ] && return
        sleep 0.2
    done
}
# The picture's place on the screen: the bounding box of the magenta pixels, as "W H X Y".
picture_box() {
    import -window root "$work/screen.png"
    convert "$work/screen.png" -fill black -fuzz 2% +opaque '#FF00FF' -fill white -opaque '#FF00FF' \
        -trim -format '%w %h %X %Y' info: | tr -d '+'
}
# The text of a saved pattern (UTF-16 with a byte-order mark, or UTF-8).
pattern_text() {
    if head -c 2 "$1" | od -An -tx1 | grep -q 'ff fe'; then iconv -f UTF-16 -t UTF-8 "$1"; else cat "$1"; fi
}
# "Left Top" of a brick in a saved pattern.
brick_place() {
    pattern_text "$1" | tr -d '\r' | grep -o "object $2: TText%CR%LF  Left = [-0-9]*%CR%LF  Top = [-0-9]*" |
        sed -E 's/.*Left = ([-0-9]+).*Top = ([-0-9]+)/\1 \2/'
}
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

# File > Open Pattern.
xdotool key --clearmodifiers alt+f
sleep 0.5
xdotool key a
[ -n "$(wait_window '^Open pattern$')" ] || fail "no Open pattern dialog"
sleep 0.5
xdotool type --delay 20 "$work/pattern.xml"
xdotool key Return
wait_gone '^Open pattern$'
sleep 1

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
xdotool key --clearmodifiers ctrl+shift+s
[ -n "$(wait_window '^Save pattern as$')" ] || fail "no Save pattern as dialog"
sleep 0.5
xdotool key ctrl+a
xdotool type --delay 20 "$work/saved.xml"
xdotool key Return
wait_gone '^Save pattern as$'
for _ in $(seq 50); do
    [ -s "$work/saved.xml" ] && break
    sleep 0.2
done
[ -s "$work/saved.xml" ] || fail "the pattern was not saved ($(cat "$work/app.log"))"
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
