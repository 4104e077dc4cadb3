#!/usr/bin/env bash
# A pattern of many small text bricks burnt into one 12-megapixel JPEG: `captiomark-cli render
# --keep-quality` against the render that encodes the photo again. With every brick laid out
# once per render both grow with the number of bricks, not with its square. Wall time, best of
# the runs.
#
#   scripts/bench-many-bricks.sh [bricks] [runs]     (defaults 2000 bricks, 3 runs)
#
# BUILD_DIR picks the build tree (default build-release; its targets are built here).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD_DIR:-$ROOT/build-release}
BRICKS=${1:-2000}
RUNS=${2:-3}

[ -d "$BUILD" ] || (cd "$ROOT" && cmake --preset release >/dev/null)
cmake --build "$BUILD" --target bench_batch captiomark-cli >/dev/null
CLI=$BUILD/app/captiomark-cli

WORK=$(mktemp -d "${TMPDIR:-/tmp}/captiomark-bricks.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
export CAPTIOMARK_CONFIG_DIR=$WORK/config
mkdir -p "$CAPTIOMARK_CONFIG_DIR"
export QT_QPA_PLATFORM=offscreen

"$BUILD/bench/bench_batch" generate "$WORK/src" 1 2>/dev/null
PHOTO=$(ls "$WORK"/src/*.jpg | head -n 1)

# Bricks on a grid 80 x 75 pixels apart (50 across), each touching MCUs of its own, so that the
# keep-quality write captions the photo in as many separate bands as there are bricks.
{
    echo '<?xml version="1.0" encoding="UTF-8"?>'
    echo '<Project Name="Bench" Created="by qmv">'
    echo '  <Inspector Left="0" Top="0" Width="0" Height="0" ColWidth="0" Sort="False" AlwaysOnTop="False"/>'
    echo '  <Designer Left="0" Top="0" Width="0" Height="0" GridX="4" GridY="4" IsGrid="False"/>'
    echo '  <Manager Left="0" Top="0" Width="0" Height="0"/>'
    echo '  <Bricks>'
    awk -v n="$BRICKS" 'BEGIN {
        for (i = 1; i <= n; i++) {
            x = (i - 1) % 50 * 80; y = int((i - 1) / 50) * 75 % 3000
            printf "    <Brick Body=\"object Text%d: TText%%CR%%LF  Left = %d%%CR%%LF  Top = %d%%CR%%LF  Caption = '\''T'\''%%CR%%LF  Font.Color = clRed%%CR%%LF  Font.Height = -12%%CR%%LF  Font.Name = '\''Arial'\''%%CR%%LFend%%CR%%LF\"/>\n", i, x, y
        }
    }'
    echo '  </Bricks>'
    echo '</Project>'
} >"$WORK/pattern.xml"

now() { date +%s.%N; }
run() {
    local label=$1 best=
    shift
    for ((r = 0; r < RUNS; r++)); do
        cp "$PHOTO" "$WORK/photo.jpg"
        rm -f "$WORK/out.jpg"
        local t0 t1 wall
        t0=$(now)
        "$CLI" render --pattern "$WORK/pattern.xml" "$@" --output "$WORK/out.jpg" "$WORK/photo.jpg" >/dev/null
        t1=$(now)
        wall=$(echo "$t1 - $t0" | bc -l)
        if [ -z "$best" ] || (($(echo "$wall < $best" | bc -l))); then best=$wall; fi
    done
    printf '| %-34s | %7.3f s |\n' "$label" "$best"
}

echo
echo "$BRICKS text bricks on a 4000 x 3000 JPEG, best of $RUNS runs"
echo
echo '| Command                            |  Wall     |'
echo '|---|---:|'
run 'render (encodes again)'
run 'render --keep-quality' --keep-quality
