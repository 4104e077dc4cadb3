#!/usr/bin/env bash
# Batch of 12-megapixel JPEGs: our command-line batch (pattern of three texts and a logo, fit to
# 1600 x 1200, rotate 90) beside ImageMagick's mogrify doing the same rotate, resize, three text
# annotations and the logo, on copies of the same generated files, in one run; then the same fit
# without the turn (written band by band). Smooth photos, then the same with grain as a camera
# file at quality 92 (noisy). Prints wall time, peak resident memory (GNU time's maximum resident
# set size) and the load average (1 minute) before each row: on a shared machine the figures are
# only as good as that load.
#
#   scripts/bench-batch.sh [count] [runs]     (defaults 20 photos, 3 runs; best run reported)
#
# Needs: the release tree (its targets are built here), /usr/bin/time, mogrify (ImageMagick).
# The photos live in a temporary folder that is removed at the end.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD_DIR:-$ROOT/build-release}
COUNT=${1:-20}
RUNS=${2:-3}
MOGRIFY=${MOGRIFY:-/usr/bin/mogrify}

[ -d "$BUILD" ] || (cd "$ROOT" && cmake --preset release >/dev/null)
cmake --build "$BUILD" --target bench_batch captiomark-cli >/dev/null
BENCH=$BUILD/bench/bench_batch
CLI=$BUILD/app/captiomark-cli
for tool in /usr/bin/time "$MOGRIFY" convert bc; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/captiomark-batch.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
export CAPTIOMARK_CONFIG_DIR=$WORK/config
mkdir -p "$CAPTIOMARK_CONFIG_DIR"
export QT_QPA_PLATFORM=offscreen

"$BENCH" generate "$WORK/src" "$COUNT"
SRC=$WORK/src

# The output is 900 x 1200 (the rotated 3000 x 4000 fitted proportionally), a scale of 0.3: the
# annotations stand where our bricks land and have their scaled sizes.
magick_args=(-rotate 90 -resize 1600x1200 -quality 95 -font DejaVu-Sans -fill black
    -pointsize 14 -annotate +60+90 'Summer 2026'
    -pointsize 22 -annotate +330+345 'Captiomark'
    -pointsize 29 -annotate +60+600 'Lake shore, evening'
    -draw "image over 720,1020 154,77 '$SRC/logo.png'")

best() { sort -n | head -1; }

# run LABEL COMMAND...: times the command on a fresh copy of the photos in $WORK/run.
run() {
    local label=$1
    shift
    local walls=() rss=()
    for ((r = 0; r < RUNS; r++)); do
        rm -rf "$WORK/run"
        mkdir "$WORK/run"
        cp "$SRC"/*.jpg "$WORK/run/"
        sync
        /usr/bin/time -f "%e %M" -o "$WORK/time.txt" "$@" "$WORK"/run/*.jpg \
            >"$WORK/out.txt" 2>"$WORK/err.txt" || { cat "$WORK/err.txt" >&2; exit 1; }
        read -r wall kib <"$WORK/time.txt"
        walls+=("$wall")
        rss+=("$kib")
    done
    local w m
    w=$(printf '%s\n' "${walls[@]}" | best)
    m=$(printf '%s\n' "${rss[@]}" | sort -n | tail -1)
    printf '| %-7s | %-44s | %8.2f s | %8.0f ms | %7.1f MB | %5s |\n' "$KIND" "$label" "$w" \
        "$(echo "$w * 1000 / $COUNT" | bc -l)" "$(echo "$m / 1024" | bc -l)" "$LOAD"
}

# The noisy kind: the same photos with grain, at quality 92, their EXIF kept.
mkdir "$WORK/noisy"
cp "$SRC/pattern.xml" "$SRC/logo.png" "$WORK/noisy/"
for f in "$SRC"/*.jpg; do
    convert "$f" -seed 1 -attenuate 0.6 +noise Gaussian -sampling-factor 2x2 -quality 92 \
        "$WORK/noisy/$(basename "$f")"
done

echo
echo "$COUNT photos of 4000 x 3000 (12 megapixels), JPEG quality 92 in, 95 out; best of $RUNS runs"
echo "(peak memory: the largest of the runs; load: 1-minute load average before the row, $(nproc) cores)"
echo
echo '| photos  | Command                                      |  Wall     | Per photo   | Peak RSS   | load  |'
echo '|---------|----------------------------------------------|----------:|------------:|-----------:|------:|'
for KIND in smooth noisy; do
    SRC=$WORK/src
    [ "$KIND" = noisy ] && SRC=$WORK/noisy
    magick_args=(-rotate 90 -resize 1600x1200 -quality 95 -font DejaVu-Sans -fill black
        -pointsize 14 -annotate +60+90 'Summer 2026'
        -pointsize 22 -annotate +330+345 'Captiomark'
        -pointsize 29 -annotate +60+600 'Lake shore, evening'
        -draw "image over 720,1020 154,77 '$SRC/logo.png'")
    LOAD=$(cut -d' ' -f1 /proc/loadavg)
    run "captiomark-cli batch (pattern, fit, rotate)" \
        "$CLI" batch --pattern "$SRC/pattern.xml" --zoom 1 --fit 1600x1200 --rotate 90
    LOAD=$(cut -d' ' -f1 /proc/loadavg)
    run "mogrify, default threads" "$MOGRIFY" "${magick_args[@]}"
    LOAD=$(cut -d' ' -f1 /proc/loadavg)
    run "mogrify, one thread" "$MOGRIFY" -limit thread 1 "${magick_args[@]}"
    LOAD=$(cut -d' ' -f1 /proc/loadavg)
    run "captiomark-cli batch (pattern, fit; streamed)" \
        "$CLI" batch --pattern "$SRC/pattern.xml" --zoom 1 --fit 1600x1200
done
SRC=$WORK/src
echo
rm -rf "$WORK/run"
mkdir "$WORK/run"
cp "$SRC"/*.jpg "$SRC/pattern.xml" "$WORK/run/"
"$BENCH" run "$WORK/run" | grep -v "Operation complete"
