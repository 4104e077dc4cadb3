#!/usr/bin/env bash
# End to end with the mouse and the keyboard: a date brick placed from the palette and cancelled
# in its dialog leaves the pattern unmodified, so that closing after a turn of the photo asks
# about the photo alone; a brick kept with Ok makes the question offer both; "Save Pattern"
# there writes the pattern and closes, leaving the photo as it was.
# Usage: e2e_unsaved_work.sh CAPTIOMARK CAPTIOMARK_CLI SOURCE_DIR [SHOTS_DIR]
# With SHOTS_DIR the two questions are kept there as PNG screenshots.
set -euo pipefail

# shellcheck source=e2e_session.sh
source "$(dirname "$0")/e2e_session.sh"
[ "${1:-}" = --inner ] || e2e_under_x 1600x1000 "import convert" "$0" "$@"
shift
app=$1 cli=$2 src=$3
E2E_SHOTS=${4:-${E2E_SHOTS:-}}
e2e_begin
cp "$src/examples/sample-photo.jpg" "$work/photo.jpg"
original=$(sha256sum <"$work/photo.jpg")
"$cli" settings set ProjectManagerBounds 0,0,1400,900 >/dev/null
e2e_no_tip
e2e_start_wm

fail() {
    echo "FAIL: $*"
    [ -f "$work/app.log" ] && cat "$work/app.log"
    exit 1
}

"$app" "$work/photo.jpg" >"$work/app.log" 2>&1 &
pid=$!
main=$(wait_window '^Captiomark - .*photo\.jpg$')
[ -n "$main" ] || fail "the main window did not appear"
xdotool windowactivate --sync "$main" 2>/dev/null || true
sleep 1

# The palette's date button is the one with the red calendar bar (200, 40, 40) in the tool bars.
place_date_brick() {
    xdotool windowactivate --sync "$main" 2>/dev/null || true
    import -window root "$work/bars.png"
    local at
    at=$(convert "$work/bars.png" -crop 1600x160+0+0 +repage txt:- |
        awk -F'[,:]' '/#C82828/ { x += $1; y += $2; n++ } END { if (n) printf "%d %d", x / n, y / n }')
    [ -n "$at" ] || fail "no date button in the palette"
    # shellcheck disable=SC2086
    xdotool mousemove $at click 1
    sleep 0.5
    # The middle of the window is on the photo.
    eval "$(xdotool getwindowgeometry --shell "$main")"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
    dialog=$(wait_window '^Date options$')
    [ -n "$dialog" ] || fail "placing a date brick opened no dialog"
    sleep 0.5
}
exit_window() {
    xdotool windowactivate --sync "$main" 2>/dev/null || true
    xdotool key --clearmodifiers alt+f
    sleep 0.5
    xdotool key e
}

# A date brick cancelled in its dialog, then the photo turned (Edit > Rotate 90° Clockwise).
place_date_brick
xdotool key Escape
wait_gone '^Date options$' || fail "Escape left the date dialog open"
xdotool windowactivate --sync "$main" 2>/dev/null || true
xdotool key --clearmodifiers alt+e
sleep 0.5
xdotool key t
sleep 1

# Exit: the question is about the photo only; it has no Save Pattern button (Alt+P does nothing).
exit_window
box=$(wait_window '^Captiomark$')
[ -n "$box" ] || fail "closing with a turned photo asked nothing"
# Keys go to the question only once it has the focus (a loaded machine is slow to give it).
xdotool windowactivate --sync "$box" 2>/dev/null || true
sleep 0.5
shot photo-only
xdotool key --clearmodifiers alt+p
sleep 1
[ -z "$(xdotool search --onlyvisible --name '^Save pattern$' 2>/dev/null)" ] ||
    fail "the cancelled brick left the pattern modified: Save Pattern was offered"
xdotool key Escape
wait_gone '^Captiomark$' || fail "Cancel left the question open"
sleep 0.5
kill -0 "$pid" 2>/dev/null || fail "Cancel closed the window"

# A date brick kept with Ok: now both are asked about.
place_date_brick
xdotool key Return
wait_gone '^Date options$' || fail "Enter left the date dialog open"
exit_window
box=$(wait_window '^Captiomark$')
[ -n "$box" ] || fail "closing with a new brick asked nothing"
# Keys go to the question only once it has the focus (a loaded machine is slow to give it).
xdotool windowactivate --sync "$box" 2>/dev/null || true
sleep 0.5
shot both
# Save Pattern asks for the new pattern's name, writes it and closes; the photo is left as it was.
xdotool key --clearmodifiers alt+p
dialog=$(wait_window '^Save pattern$' 40)
[ -n "$dialog" ] || fail "Save Pattern asked for no name"
sleep 0.5
xdotool key ctrl+a
xdotool type --delay 20 "$work/kept.xml"
xdotool key Return
for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
done
kill -0 "$pid" 2>/dev/null && fail "the window stayed open after Save Pattern"
pid=""
[ -s "$work/kept.xml" ] || fail "no pattern was written"
iconv -f UTF-16LE -t UTF-8 "$work/kept.xml" 2>/dev/null | grep -q 'TextDate1' ||
    fail "the written pattern holds no date brick"
[ "$(sha256sum <"$work/photo.jpg")" = "$original" ] || fail "the photo was changed"
[ ! -e "$work/photo.jpg.bak" ] || fail "the photo was replaced"
echo "PASS: cancelled bricks leave the pattern alone; the closing question offers what is unsaved"
