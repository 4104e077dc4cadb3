#!/usr/bin/env bash
# Captioning 12-megapixel JPEGs without compressing the photo again, on a smooth and on a noisy
# photo: `captiomark-cli render --keep-quality` (one worker per core, and one worker) beside the
# floor of a full re-encode (`djpeg | cjpeg -quality 95`, one pipeline per photo) and a lossless
# re-code of the whole entropy-coded data (`jpegtran -copy all`), on fresh copies of the same
# files in one run. Wall time of the set (best of the runs), per photo, and the load average
# (uptime) before and after each row. Then the in-process figure of bench_recaption.
#
#   scripts/bench-keep-quality.sh [count] [runs]     (defaults 10 photos, 3 runs)
#   CLI=build/app/captiomark-cli scripts/bench-keep-quality.sh 6 2    # a tool already built
#
# Needs: the release tree (its targets are built here unless CLI is given), ImageMagick's
# convert, djpeg, cjpeg, jpegtran (libjpeg-turbo-progs), bc.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD_DIR:-$ROOT/build-release}
COUNT=${1:-10}
RUNS=${2:-3}

if [ -z "${CLI:-}" ]; then
    [ -d "$BUILD" ] || (cd "$ROOT" && cmake --preset release >/dev/null)
    cmake --build "$BUILD" --target captiomark-cli bench_recaption >/dev/null
    CLI=$BUILD/app/captiomark-cli
fi
BENCH=${BENCH:-$(dirname "$(dirname "$CLI")")/bench/bench_recaption}
for tool in convert djpeg cjpeg jpegtran bc; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

# shellcheck source=bench-common.sh
source "$ROOT/scripts/bench-common.sh"
bench_work keep

# The photos, 4000 x 3000: a smooth and a noisy one, both with the standard Huffman tables as a
# camera writes them; and the noisy one as ImageMagick writes it by default, with tables made for
# the photo, which may lack codes the captions need (then every block is coded again). Each is
# made once and copied.
bench_photo smooth 4000 3000 "$WORK/src/smooth.jpg" standard
bench_photo noisy 4000 3000 "$WORK/src/noisy.jpg" standard
bench_photo optimized 4000 3000 "$WORK/src/optimized.jpg"
bench_pattern "$WORK/pattern.xml"

load() { cut -d' ' -f1-3 /proc/loadavg | tr ' ' '/'; }
now() { date +%s.%N; }

# run LABEL KIND SCRIPT: SCRIPT (bash; $RUN holds fresh copies of COUNT photos of KIND) timed.
run() {
    local label=$1 kind=$2 script=$3 best= before after
    before=$(load)
    for ((r = 0; r < RUNS; r++)); do
        rm -rf "$WORK/run"
        mkdir "$WORK/run"
        for ((i = 1; i <= COUNT; i++)); do cp "$WORK/src/$kind.jpg" "$WORK/run/$(printf 'IMG_%04d' "$i").jpg"; done
        sync
        local t0 t1 wall
        t0=$(now)
        RUN=$WORK/run CLI=$CLI PATTERN=$WORK/pattern.xml bash -c "$script" >/dev/null 2>"$WORK/err.txt" ||
            { cat "$WORK/err.txt" >&2; exit 1; }
        t1=$(now)
        wall=$(echo "$t1 - $t0" | bc -l)
        if [ -z "$best" ] || (($(echo "$wall < $best" | bc -l))); then best=$wall; fi
    done
    after=$(load)
    printf '| %-7s | %-46s | %7.3f s | %7.1f ms | %s → %s |\n' "$kind" "$label" "$best" \
        "$(echo "$best * 1000 / $COUNT" | bc -l)" "$before" "$after"
    echo "$best" >"$WORK/last"
}

echo
echo "$COUNT photos of 4000 x 3000 (ImageMagick, 4:2:0, quality 92), three text bricks; best of"
echo "$RUNS runs; $(nproc) cores; load = 1/5/15-minute load averages before → after the row"
echo
echo '| photos  | command                                        |  wall     | per photo  | load before → after |'
echo '|---------|------------------------------------------------|----------:|-----------:|---------------------|'
for kind in smooth noisy optimized; do
    run "djpeg \\| cjpeg -quality 95 (one per photo)" "$kind" \
        'for f in "$RUN"/*.jpg; do djpeg "$f" | cjpeg -quality 95 >"$f.out"; done'
    floor=$(cat "$WORK/last")
    [ "$kind" = optimized ] || run "jpegtran -copy all (one per photo)" "$kind" \
        'for f in "$RUN"/*.jpg; do jpegtran -copy all -outfile "$f.out" "$f"; done'
    run "captiomark-cli render --keep-quality" "$kind" \
        '"$CLI" render --pattern "$PATTERN" --keep-quality "$RUN"/*.jpg'
    ours=$(cat "$WORK/last")
    run "captiomark-cli render --keep-quality --jobs 1" "$kind" \
        '"$CLI" render --pattern "$PATTERN" --keep-quality --jobs 1 "$RUN"/*.jpg'
    one=$(cat "$WORK/last")
    printf '| %-7s | keep-quality ÷ djpeg\\|cjpeg: %.2f (one worker: %.2f; goal: at most 0.25) | | | |\n' \
        "$kind" "$(echo "$ours / $floor" | bc -l)" "$(echo "$one / $floor" | bc -l)"
done

if [ -x "$BENCH" ]; then
    echo
    echo "In process (bench_recaption, load $(load)):"
    echo
    for kind in smooth noisy optimized; do
        "$BENCH" 5 "$WORK/src/$kind.jpg"
    done
fi
