# Window helpers for the end-to-end scripts, sourced after the X server is up.

# The first visible window whose title matches, waited for up to $2 seconds (default 20); prints
# nothing when none came. Searched again and again rather than with --sync: a window that goes
# while xdotool walks the tree (a question box closing) makes it give up at once with an X error.
wait_window() {
    local deadline=$((SECONDS + ${2:-20})) found
    while [ "$SECONDS" -lt "$deadline" ]; do
        found=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)
        [ -n "$found" ] && { echo "$found"; return 0; }
        sleep 0.2
    done
}
