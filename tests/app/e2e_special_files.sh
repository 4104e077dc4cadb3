#!/usr/bin/env bash
# The window with pipes, devices, links and a huge sparse file where it reads at start-up: the
# settings file and the tip ini are named pipes, the folder the explorer opens (the home folder)
# holds a pipe, a link to /dev/zero and a 5 GB sparse file named *.jpg, and the thumbnail cache
# folder is a link to another folder. The window must come up (after one message per refused
# file), close on Alt+F4 and the process end promptly; the pipes stay pipes and the linked
# folder is neither written into nor changed.
# Usage: e2e_special_files.sh CAPTIOMARK SOURCE_DIR
set -euo pipefail

# shellcheck source=e2e_session.sh
source "$(dirname "$0")/e2e_session.sh"
[ "${1:-}" = --inner ] || e2e_under_x 1600x1000 "" "$0" "$@"
shift
app=$1 src=$2
E2E_KILL=KILL
e2e_begin
# A reader stuck on a pipe would keep the folder busy: give it a writer before it is stopped.
e2e_before_cleanup() {
    for f in "$work"/config/*.conf "$work"/config/*.ini "$work"/home/*.jpg; do
        [ -p "$f" ] && timeout 1 bash -c "exec 3>'$f'" 2>/dev/null || true
    done
}
export HOME=$work/home
export XDG_CACHE_HOME=$work/cache
mkdir -p "$CAPTIOMARK_CONFIG_DIR" "$HOME" "$XDG_CACHE_HOME" "$work/outside"
chmod 755 "$work/outside"
mkfifo "$CAPTIOMARK_CONFIG_DIR/Captiomark.conf" "$CAPTIOMARK_CONFIG_DIR/Captiomark.ini"
mkfifo "$HOME/pipe.jpg"
ln -s /dev/zero "$HOME/zero.jpg"
truncate -s 5G "$HOME/sparse.jpg"
cp "$src/examples/sample-photo.jpg" "$HOME/photo.jpg"
ln -s "$work/outside" "$XDG_CACHE_HOME/thumbnails"
e2e_start_wm

fail() {
    echo "FAIL: $*"
    cat "$work/app.log" 2>/dev/null || true
    exit 1
}
window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true; }

"$app" >"$work/app.log" 2>&1 &
pid=$!

# Dismiss the message boxes (titled "Captiomark") and the tip of the day until the main window
# (titled "Captiomark" and the version) has stood alone for three seconds.
boxes=0 main="" alone=0 deadline=$((SECONDS + 40))
while [ $SECONDS -lt $deadline ] && [ "$alone" -lt 10 ]; do
    kill -0 "$pid" 2>/dev/null || fail "the program ended during start-up"
    box=$(window '^Captiomark$')
    tip=$(window '^Tip of the Day$')
    main=""
    if [ -n "$box" ]; then
        alone=0
        boxes=$((boxes + 1))
        xdotool windowactivate --sync "$box" 2>/dev/null || true
        sleep 0.3
        xdotool key Return
        # The box is gone before the next look, so that it is counted once.
        for _ in $(seq 1 20); do
            [ "$(window '^Captiomark$')" = "$box" ] || break
            sleep 0.2
        done
    elif [ -n "$tip" ]; then
        alone=0
        xdotool windowactivate --sync "$tip" 2>/dev/null || true
        sleep 0.3
        xdotool key Escape
        sleep 0.5
    else
        main=$(window '^Captiomark [0-9]')
        [ -n "$main" ] && alone=$((alone + 1))
        sleep 0.3
    fi
done
[ -n "$main" ] && [ "$alone" -ge 10 ] ||
    fail "the main window did not come up within 40 seconds ($boxes message boxes)"
[ "$boxes" -eq 2 ] || fail "expected one message for each refused file, saw $boxes"
# Time for the explorer's thumbnail workers to reach the odd files.
sleep 3

xdotool windowactivate --sync "$main" 2>/dev/null || true
sleep 0.3
xdotool key alt+F4
for _ in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || break
    # A question or message at closing would be a fault of its own.
    [ -n "$(window '^Captiomark$')" ] && fail "a message box came up while closing"
    sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "the process did not end within 10 seconds of closing the window"
wait "$pid" || fail "the program ended with status $?"
pid=""

[ -p "$CAPTIOMARK_CONFIG_DIR/Captiomark.conf" ] || fail "the settings pipe was replaced"
[ -p "$CAPTIOMARK_CONFIG_DIR/Captiomark.ini" ] || fail "the ini pipe was replaced"
[ -z "$(ls -A "$work/outside")" ] || fail "something was written into the linked cache folder"
[ "$(stat -c %a "$work/outside")" = 755 ] || fail "the linked cache folder's mode was changed"
echo "PASS: start-up and shutdown with special files ($boxes messages)"
