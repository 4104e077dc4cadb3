#!/usr/bin/env bash
# Captioning 12-megapixel JPEGs without compressing the photo again: `captiomark-cli render
# --keep-quality` beside the floor of a full re-encode (`djpeg | cjpeg -quality 95`), a lossless
# re-code of the whole entropy-coded data (`jpegtran -copy all`) and our own render that encodes
# again. Every command works on fresh copies of the same generated photos; wall time of the whole
# set, best of the runs, per photo.
#
#   scripts/bench-keep-quality.sh [count] [runs]     (defaults 10 photos, 3 runs)
#
# Needs: the release tree (its targets are built here), djpeg, cjpeg, jpegtran
# (libjpeg-turbo-progs).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD_DIR:-$ROOT/build-release}
COUNT=${1:-10}
RUNS=${2:-3}

[ -d "$BUILD" ] || (cd "$ROOT" && cmake --preset release >/dev/null)
cmake --build "$BUILD" --target bench_batch captiomark-cli >/dev/null
CLI=$BUILD/app/captiomark-cli
for tool in djpeg cjpeg jpegtran; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/captiomark-keep.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
export CAPTIOMARK_CONFIG_DIR=$WORK/config
mkdir -p "$CAPTIOMARK_CONFIG_DIR"
export QT_QPA_PLATFORM=offscreen

"$BUILD/bench/bench_batch" generate "$WORK/src" "$COUNT" 2>/dev/null
SRC=$WORK/src

now() { date +%s.%N; }

# run LABEL SCRIPT: SCRIPT (bash, with $RUN the folder of fresh copies) timed over the set.
run() {
    local label=$1 script=$2 best=
    for ((r = 0; r < RUNS; r++)); do
        rm -rf "$WORK/run"
        mkdir "$WORK/run"
        cp "$SRC"/*.jpg "$WORK/run/"
        sync
        local t0 t1 wall
        t0=$(now)
        RUN=$WORK/run SRC=$SRC CLI=$CLI bash -c "$script" >/dev/null 2>"$WORK/err.txt" ||
            { cat "$WORK/err.txt" >&2; exit 1; }
        t1=$(now)
        wall=$(echo "$t1 - $t0" | bc -l)
        if [ -z "$best" ] || (($(echo "$wall < $best" | bc -l))); then best=$wall; fi
    done
    printf '| %-46s | %7.3f s | %7.1f ms |\n' "$label" "$best" "$(echo "$best * 1000 / $COUNT" | bc -l)"
    echo "$best" >"$WORK/last"
}

echo
echo "$COUNT photos of 4000 x 3000 (12 megapixels, JPEG quality 92), best of $RUNS runs"
echo
echo '| Command                                        |  Wall     | Per photo  |'
echo '|------------------------------------------------|----------:|-----------:|'
run "djpeg | cjpeg -quality 95 (one per photo)" \
    'for f in "$RUN"/*.jpg; do djpeg "$f" | cjpeg -quality 95 >"$f.out"; done'
floor=$(cat "$WORK/last")
run "jpegtran -copy all (one per photo)" \
    'for f in "$RUN"/*.jpg; do jpegtran -copy all -outfile "$f.out" "$f"; done'
run "captiomark-cli render (one call, re-encoding)" \
    '"$CLI" render --pattern "$SRC/pattern.xml" "$RUN"/*.jpg'
run "captiomark-cli render --keep-quality (one call)" \
    '"$CLI" render --pattern "$SRC/pattern.xml" --keep-quality "$RUN"/*.jpg'
ours=$(cat "$WORK/last")
echo
printf 'keep-quality / djpeg|cjpeg: %.2f (goal: at most 0.45)\n' "$(echo "$ours / $floor" | bc -l)"
