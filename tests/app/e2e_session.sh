# What every end-to-end script needs, sourced first thing.

# e2e_under_x SIZE "TOOLS" SCRIPT ARGS...: runs SCRIPT --inner ARGS under a private X server of
# SIZE (WIDTHxHEIGHT), or skips (exit 0) when xvfb-run, xdotool or one of TOOLS is missing.
e2e_under_x() {
    local size=$1 tools=$2 tool
    shift 2
    for tool in xvfb-run xdotool $tools; do
        if ! command -v "$tool" >/dev/null; then
            echo "SKIP: $tool is not installed"
            exit 0
        fi
    done
    local script=$1
    shift
    exec xvfb-run -a -s "-screen 0 ${size}x24" bash "$script" --inner "$@"
}

# A scratch folder in $work, the program on xcb with its settings there, and everything started
# taken down on exit. A script may define e2e_before_cleanup; E2E_KILL (default TERM) is the signal
# the program gets.
e2e_begin() {
    work=$(mktemp -d)
    pid=""
    wm=""
    trap e2e_cleanup EXIT
    unset QT_QPA_PLATFORM
    export QT_QPA_PLATFORM=xcb
    export CAPTIOMARK_CONFIG_DIR=$work/config
    mkdir -p "$CAPTIOMARK_CONFIG_DIR"
}
e2e_cleanup() {
    if declare -F e2e_before_cleanup >/dev/null; then e2e_before_cleanup; fi
    [ -n "$pid" ] && kill -s "${E2E_KILL:-TERM}" "$pid" 2>/dev/null || true
    [ -n "$wm" ] && kill "$wm" 2>/dev/null || true
    rm -rf "$work"
}
# No tip of the day in front of the keystrokes.
e2e_no_tip() {
    printf '[Preferences]\nShowTip=false\n' >"$CAPTIOMARK_CONFIG_DIR/Captiomark.ini"
}
# A window manager, so that windows are placed, activated and titled as on a desktop.
e2e_start_wm() {
    if command -v openbox >/dev/null; then
        openbox >/dev/null 2>&1 &
        wm=$!
        sleep 1
    fi
}

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
# Waits up to ten seconds for every visible window whose title matches to go; fails if one stays.
wait_gone() {
    for _ in $(seq 50); do
        [ -z "$(xdotool search --onlyvisible --name "$1" 2>/dev/null)" ] && return 0
        sleep 0.2
    done
    return 1
}

# With E2E_SHOTS set to a folder, a screenshot of the step named $1 goes there.
shot() {
    [ -n "${E2E_SHOTS:-}" ] || return 0
    mkdir -p "$E2E_SHOTS"
    import -window root "$E2E_SHOTS/$1.png"
}

# The pictures of the designer scripts are plain magenta, so that they are found on the screen by
# their colour: the bounding box of the magenta pixels, as "W H X Y".
picture_box() {
    import -window root "$work/screen.png"
    convert "$work/screen.png" -fill black -fuzz 2% +opaque '#FF00FF' -fill white -opaque '#FF00FF' \
        -trim -format '%w %h %X %Y' info: | tr -d '+'
}
# A pattern of text bricks, each captioned with its name, on standard output.
# text_pattern "SORT ALWAYSONTOP" "GRIDX GRIDY ISGRID" NAME LEFT TOP [NAME LEFT TOP ...]
text_pattern() {
    local inspector=($1) grid=($2) crlf='%CR%LF'
    shift 2
    printf '<?xml version="1.0" encoding="UTF-8"?>\n<Project Name="e2e">\n'
    printf '<Inspector Left="0" Top="0" Width="1" Height="1" ColWidth="1" Sort="%s" AlwaysOnTop="%s"/>\n' \
        "${inspector[0]}" "${inspector[1]}"
    printf '<Designer Left="0" Top="0" Width="1" Height="1" GridX="%s" GridY="%s" IsGrid="%s"/>\n' \
        "${grid[0]}" "${grid[1]}" "${grid[2]}"
    printf '<Manager Left="0" Top="0" Width="1" Height="1"/>\n<Bricks>\n'
    while [ $# -ge 3 ]; do
        printf '<Brick Body="object %s: TText%s  Left = %s%s  Top = %s%s  Caption = '"'"'%s'"'"'%send"/>\n' \
            "$1" "$crlf" "$2" "$crlf" "$3" "$crlf" "$1" "$crlf"
        shift 3
    done
    printf '</Bricks>\n</Project>\n'
}
# The text of a saved pattern (UTF-16 with a byte-order mark, or UTF-8).
pattern_text() {
    if head -c 2 "$1" | od -An -tx1 | grep -q 'ff fe'; then iconv -f UTF-16 -t UTF-8 "$1"; else cat "$1"; fi
}
# "Left Top" of a text brick in a saved pattern.
brick_place() {
    pattern_text "$1" | tr -d '\r' | grep -o "object $2: TText%CR%LF  Left = [-0-9]*%CR%LF  Top = [-0-9]*" |
        sed -E 's/.*Left = ([-0-9]+).*Top = ([-0-9]+)/\1 \2/'
}
# Opens the pattern file $1 by File > Open Pattern's mnemonics.
open_pattern_by_keys() {
    xdotool key --clearmodifiers alt+f
    sleep 0.5
    xdotool key a
    [ -n "$(wait_window '^Open pattern$')" ] || fail "no Open pattern dialog"
    sleep 0.5
    xdotool type --delay 20 "$1"
    xdotool key Return
    wait_gone '^Open pattern$' || true
    sleep 1
}
# Saves the pattern as $1 by Ctrl+Shift+S and waits for the file.
save_pattern_as_by_keys() {
    xdotool key --clearmodifiers ctrl+shift+s
    [ -n "$(wait_window '^Save pattern as$')" ] || fail "no Save pattern as dialog"
    sleep 0.5
    xdotool key ctrl+a
    xdotool type --delay 20 "$1"
    xdotool key Return
    wait_gone '^Save pattern as$' || true
    for _ in $(seq 50); do
        [ -s "$1" ] && break
        sleep 0.2
    done
    [ -s "$1" ] || fail "the pattern was not saved ($(cat "$work/app.log"))"
}
