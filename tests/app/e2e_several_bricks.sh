#!/usr/bin/env bash
# End to end by keys and mouse on several bricks at once: select all, copy and paste (copies
# under the next free names), save, undo; a rubber band drawn on the bare photo and Delete (one
# undo step brings both back); Shift+click that adds and takes away. What the window did is read
# back from the saved pattern file. With E2E_SHOTS set to a folder, screenshots go there (the
# last one the inspector on a text brick).
# Usage: e2e_several_bricks.sh CAPTIOMARK
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
    [ -n "${E2E_SHOTS:-}" ] && import -window root "$E2E_SHOTS/several-failed.png"
    grep -v 'propagateSizeHints\|XDG_RUNTIME' "$work/app.log" 2>/dev/null || true
    exit 1
}

# A plain magenta photo, found on the screen by its colour, with two text bricks on it.
convert -size 600x400 xc:'#FF00FF' "BMP3:$work/photo.bmp"
text_pattern "True True" "4 4 False" Alpha 40 40 Beta 300 250 >"$work/pattern.xml"
e2e_start_wm

# The saved bricks' names, in order, on one line.
brick_names() {
    pattern_text "$1" | grep -o 'object [A-Za-z0-9]*: T' | sed -E 's/object ([A-Za-z0-9]+): T/\1/' | tr '\n' ' ' | sed 's/ $//'
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

open_pattern_by_keys "$work/pattern.xml"
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
save_pattern_as_by_keys "$work/saved.xml"
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
