#!/usr/bin/env bash
# End to end by keys and mouse on several bricks at once: select all, copy and paste (copies
# under the next free names), save, undo; a rubber band drawn on the bare photo and Delete (one
# undo step brings both back); Shift+click that adds and takes away. What the window did is read
# back from the saved pattern file. With E2E_SHOTS set to a folder, screenshots go there (the
# last one the inspector on a text brick).
# Usage: e2e_several_bricks.sh CAPTIOMARK
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
    [ -n "${E2E_SHOTS:-}" ] && import -window root "$E2E_SHOTS/several-failed.png"
    grep -v 'propagateSizeHints\|XDG_RUNTIME' "$work/app.log" 2>/dev/null || true
    exit 1
}
shot() {
    [ -n "${E2E_SHOTS:-}" ] && import -window root "$E2E_SHOTS/$1.png"
    return 0
}

# A plain magenta photo, found on the screen by its colour, with two text bricks on it.
convert -size 600x400 xc:'#FF00FF' "BMP3:$work/photo.bmp"
crlf='%CR%LF'
brick() { # name left top
    printf '<Brick Body="object %s: TText%s  Left = %s%s  Top = %s%s  Caption = '"'"'%s'"'"'%send"/>\n' \
        "$1" "$crlf" "$2" "$crlf" "$3" "$crlf" "$1" "$crlf"
}
{
    printf '<?xml version="1.0" encoding="UTF-8"?>\n<Project Name="e2e">\n'
    printf '<Inspector Left="0" Top="0" Width="1" Height="1" ColWidth="1" Sort="True" AlwaysOnTop="True"/>\n'
    printf '<Designer Left="0" Top="0" Width="1" Height="1" GridX="4" GridY="4" IsGrid="False"/>\n'
    printf '<Manager Left="0" Top="0" Width="1" Height="1"/>\n<Bricks>\n'
    brick Alpha 40 40
    brick Beta 300 250
    printf '</Bricks>\n</Project>\n'
} >"$work/pattern.xml"

if command -v openbox >/dev/null; then
    openbox >/dev/null 2>&1 &
    wm=$!
    sleep 1
fi

# shellcheck source=e2e_windows.sh
source "$(dirname "$0")/e2e_windows.sh"
wait_gone() {
    for _ in $(seq 50); do
        [ -z "$(xdotool search --onlyvisible --name "$1" 2>/dev/null)" ] && return
        sleep 0.2
    done
}
picture_box() {
    import -window root "$work/screen.png"
    convert "$work/screen.png" -fill black -fuzz 2% +opaque '#FF00FF' -fill white -opaque '#FF00FF' \
        -trim -format '%w %h %X %Y' info: | tr -d '+'
}
pattern_text() {
    if head -c 2 "$1" | od -An -tx1 | grep -q 'ff fe'; then iconv -f UTF-16 -t UTF-8 "$1"; else cat "$1"; fi
}
# The saved bricks' names, in order, on one line.
brick_names() {
    pattern_text "$1" | grep -o 'object [A-Za-z0-9]*: T' | sed -E 's/object ([A-Za-z0-9]+): T/\1/' | tr '\n' ' ' | sed 's/ $//'
}
brick_place() {
    pattern_text "$1" | tr -d '\r' | grep -o "object $2: TText%CR%LF  Left = [-0-9]*%CR%LF  Top = [-0-9]*" |
        sed -E 's/.*Left = ([-0-9]+).*Top = ([-0-9]+)/\1 \2/'
}
save() { # Ctrl+S into the file chosen before, waiting for it to change
    local before
    before=$(md5sum "$work/saved.xml" | cut -d' ' -f1)
    xdotool key --clearmodifiers ctrl+s
    for _ in $(seq 25); do
        [ "$(md5sum "$work/saved.xml" | cut -d' ' -f1)" != "$before" ] && return
        sleep 0.2
    done
}
click_at() { # x y [modifier]
    xdotool mousemove "$1" "$2"
    sleep 0.2
    if [ -n "${3:-}" ]; then xdotool keydown "$3" click 1 keyup "$3"; else xdotool click 1; fi
    sleep 0.4
}

"$app" "$work/photo.bmp" >"$work/app.log" 2>&1 &
pid=$!
main=$(wait_window '^Captiomark - .*photo\.bmp$')
[ -n "$main" ] || fail "the main window did not appear ($(cat "$work/app.log"))"
xdotool windowsize --sync "$main" 1500 1000 2>/dev/null || true
xdotool windowmove --sync "$main" 0 0 2>/dev/null || true
xdotool windowactivate --sync "$main" 2>/dev/null || true
sleep 1

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

# Ctrl+A, Ctrl+C, Ctrl+V: a copy of each under the next free name, 5 pixels aside.
click_at $((x0 + 560)) $((y0 + 380))
xdotool key --clearmodifiers ctrl+a
sleep 0.4
xdotool key --clearmodifiers ctrl+c
sleep 0.4
xdotool key --clearmodifiers ctrl+v
sleep 0.6
shot several-pasted
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
[ "$(brick_names "$work/saved.xml")" = "Alpha Beta Text1 Text2" ] ||
    fail "after copy and paste the pattern holds $(brick_names "$work/saved.xml")"
[ "$(brick_place "$work/saved.xml" Text1)" = "45 45" ] ||
    fail "the copy of Alpha is at $(brick_place "$work/saved.xml" Text1), not 45 45"

# Ctrl+Z takes both copies away at once.
xdotool key --clearmodifiers ctrl+z
sleep 0.5
save
[ "$(brick_names "$work/saved.xml")" = "Alpha Beta" ] ||
    fail "one undo left $(brick_names "$work/saved.xml")"

# A rubber band from the bare photo over both bricks, then Delete: both go, one undo brings both.
xdotool mousemove $((x0 + 590)) $((y0 + 395))
sleep 0.2
xdotool mousedown 1
for step in 1 2 3 4 5; do
    xdotool mousemove $((x0 + 590 - 115 * step)) $((y0 + 395 - 75 * step))
    sleep 0.15
done
shot several-band
xdotool mouseup 1
sleep 0.5
xdotool key --clearmodifiers Delete
sleep 0.5
save
[ -z "$(brick_names "$work/saved.xml")" ] ||
    fail "the rubber band and Delete left $(brick_names "$work/saved.xml")"
xdotool key --clearmodifiers ctrl+z
sleep 0.5
save
[ "$(brick_names "$work/saved.xml")" = "Alpha Beta" ] ||
    fail "one undo after the delete gave $(brick_names "$work/saved.xml")"

# Shift+click adds Beta, a second Shift+click on Alpha takes it out again: Delete takes Beta only.
click_at $((x0 + 40 + 12)) $((y0 + 40 + 15))
click_at $((x0 + 300 + 12)) $((y0 + 250 + 15)) shift
click_at $((x0 + 40 + 12)) $((y0 + 40 + 15)) shift
xdotool key --clearmodifiers Delete
sleep 0.5
save
[ "$(brick_names "$work/saved.xml")" = "Alpha" ] ||
    fail "Shift+click and Delete left $(brick_names "$work/saved.xml")"

# The inspector on a text brick, for a look at the font's rows.
click_at $((x0 + 40 + 12)) $((y0 + 40 + 15))
xdotool key --clearmodifiers F11
sleep 1
inspector=$(wait_window '^Inspector$' 5)
if [ -n "$inspector" ]; then
    xdotool windowmove --sync "$inspector" 1100 80 2>/dev/null || true
    xdotool windowsize --sync "$inspector" 330 560 2>/dev/null || true
    sleep 0.8
fi
shot several-inspector

kill "$pid" 2>/dev/null || true
pid=""
echo "PASS: select all, copy, paste, save, undo; rubber band and Delete as one step; Shift+click toggles"
