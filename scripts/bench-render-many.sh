#!/usr/bin/env bash
# Captioning many JPEGs with one `captiomark-cli render` call, on smooth and on noisy photos:
# the call with one worker and with one per core, beside libjpeg-turbo's own re-encode
# (`djpeg | cjpeg -quality 95`, one pipeline per photo, and two pipelines at a time with GNU
# parallel), on fresh copies of the same files in one run. Then the peak resident memory of one
# 24-megapixel photo captioned alone, beside the same peer. Wall time of the whole set (best of
# the runs), per photo; CPU use (GNU time's %P) and the load average before and after each row.
#
#   scripts/bench-render-many.sh [count] [runs]     (defaults 10 photos, 3 runs)
#
# Needs: the release tree (captiomark-cli is built here), ImageMagick's convert (to make the
# photos), djpeg, cjpeg (libjpeg-turbo-progs), GNU parallel, /usr/bin/time.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD_DIR:-$ROOT/build-release}
COUNT=${1:-10}
RUNS=${2:-3}

# CLI=path/to/captiomark-cli runs that tool instead of building the release tree's.
if [ -z "${CLI:-}" ]; then
    [ -d "$BUILD" ] || (cd "$ROOT" && cmake --preset release >/dev/null)
    cmake --build "$BUILD" --target captiomark-cli >/dev/null
    CLI=$BUILD/app/captiomark-cli
fi
for tool in convert djpeg cjpeg parallel /usr/bin/time bc; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

# shellcheck source=bench-common.sh
source "$ROOT/scripts/bench-common.sh"
bench_work many

# The photos: a smooth one and a noisy one, 4000 x 3000, and both at 6000 x 4000 for the memory
# row. Decoding a copy costs what decoding the original does, so each kind is made once and
# copied.
for kind in smooth noisy; do
    bench_photo "$kind" 4000 3000 "$WORK/src/$kind.jpg"
    bench_photo "$kind" 6000 4000 "$WORK/src/$kind-24mp.jpg"
done
bench_pattern "$WORK/pattern.xml"

load() { cut -d' ' -f1 /proc/loadavg; }

# run LABEL KIND SCRIPT: SCRIPT (bash; $RUN holds fresh copies of COUNT photos of KIND) timed.
run() {
    local label=$1 kind=$2 script=$3 best= cpu= secs= before after
    before=$(load)
    for ((r = 0; r < RUNS; r++)); do
        rm -rf "$WORK/run"
        mkdir "$WORK/run"
        for ((i = 1; i <= COUNT; i++)); do cp "$WORK/src/$kind.jpg" "$WORK/run/$(printf 'IMG_%04d' "$i").jpg"; done
        sync
        RUN=$WORK/run CLI=$CLI PATTERN=$WORK/pattern.xml \
            /usr/bin/time -f "%e %P %U %S" -o "$WORK/time.txt" bash -c "$script" >/dev/null 2>"$WORK/err.txt" ||
            { cat "$WORK/err.txt" >&2; exit 1; }
        local wall p u sy
        read -r wall p u sy <"$WORK/time.txt"
        if [ -z "$best" ] || (($(echo "$wall < $best" | bc -l))); then
            best=$wall
            cpu=$p
            secs=$(echo "($u + $sy) * 1000 / $COUNT" | bc -l)
        fi
    done
    after=$(load)
    printf '| %-7s | %-44s | %7.2f s | %7.1f ms | %5s | %7.1f ms | %s → %s |\n' "$kind" "$label" \
        "$best" "$(echo "$best * 1000 / $COUNT" | bc -l)" "$cpu" "$secs" "$before" "$after"
    echo "$best" >"$WORK/last"
    echo "$secs" >"$WORK/lastcpu"
}

echo
echo "$COUNT photos of 4000 x 3000 (JPEG quality 92, 4:2:0), three text bricks; best of $RUNS runs"
echo "($(nproc) cores)"
echo
echo '| photos  | command                                      |  wall     | per photo  |  CPU  | CPU time per photo | load before → after |'
echo '|---------|----------------------------------------------|----------:|-----------:|------:|-------------------:|---------------------|'
for kind in smooth noisy; do
    run "djpeg \\| cjpeg -quality 95, one photo at a time" "$kind" \
        'for f in "$RUN"/*.jpg; do djpeg "$f" | cjpeg -quality 95 >"$f.out"; done'
    floor=$(cat "$WORK/last")
    floorcpu=$(cat "$WORK/lastcpu")
    run "djpeg \\| cjpeg -quality 95, parallel -j $(nproc)" "$kind" \
        'ls "$RUN"/*.jpg | parallel -j '"$(nproc)"' "djpeg {} | cjpeg -quality 95 >{}.out"'
    run "captiomark-cli render --jobs 1" "$kind" '"$CLI" render --jobs 1 --pattern "$PATTERN" "$RUN"/*.jpg'
    one=$(cat "$WORK/last")
    run "captiomark-cli render (one worker per core)" "$kind" '"$CLI" render --pattern "$PATTERN" "$RUN"/*.jpg'
    all=$(cat "$WORK/last")
    allcpu=$(cat "$WORK/lastcpu")
    printf '| %-7s | wall: render ÷ djpeg\\|cjpeg one at a time %.2f, --jobs 1 ÷ all cores %.2f; CPU time: render ÷ djpeg\\|cjpeg %.2f |\n' \
        "$kind" "$(echo "$all / $floor" | bc -l)" "$(echo "$one / $all" | bc -l)" "$(echo "$allcpu / $floorcpu" | bc -l)"
done

echo
echo "One photo of 6000 x 4000 (24 megapixels), peak resident memory (GNU time %M), wall time"
echo
echo '| photo   | command                                      | peak RSS  |  wall    | load  |'
echo '|---------|----------------------------------------------|----------:|---------:|------:|'
for kind in smooth noisy; do
    for what in render batch batchfit djpeg cjpeg; do
        load=$(cut -d' ' -f1 /proc/loadavg)
        rm -rf "$WORK/run" && mkdir "$WORK/run" && cp "$WORK/src/$kind-24mp.jpg" "$WORK/run/p.jpg"
        case $what in
        render) /usr/bin/time -f "%M %e" -o "$WORK/time.txt" "$CLI" render --pattern "$WORK/pattern.xml" "$WORK/run/p.jpg" >/dev/null
            label="captiomark-cli render" ;;
        batch) /usr/bin/time -f "%M %e" -o "$WORK/time.txt" "$CLI" batch --pattern "$WORK/pattern.xml" "$WORK/run/p.jpg" >/dev/null
            label="captiomark-cli batch" ;;
        batchfit) /usr/bin/time -f "%M %e" -o "$WORK/time.txt" "$CLI" batch --pattern "$WORK/pattern.xml" --fit 3000x3000 "$WORK/run/p.jpg" >/dev/null
            label="captiomark-cli batch --fit 3000x3000" ;;
        djpeg) /usr/bin/time -f "%M %e" -o "$WORK/time.txt" djpeg -outfile "$WORK/run/p.ppm" "$WORK/run/p.jpg"
            label="djpeg (the decoding half of the peer)" ;;
        cjpeg) djpeg -outfile "$WORK/run/p.ppm" "$WORK/run/p.jpg"
            /usr/bin/time -f "%M %e" -o "$WORK/time.txt" cjpeg -quality 95 -outfile "$WORK/run/q.jpg" "$WORK/run/p.ppm"
            label="cjpeg -quality 95 (the encoding half)" ;;
        esac
        read -r kib wall <"$WORK/time.txt"
        printf '| %-7s | %-44s | %6.1f MB | %6.2f s | %5s |\n' "$kind" "$label" "$(echo "$kib / 1024" | bc -l)" "$wall" "$load"
    done
done
