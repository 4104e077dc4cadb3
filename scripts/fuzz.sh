#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz", into build-fuzz/) and runs one of them.
#   scripts/fuzz.sh <target> [seconds] [extra libFuzzer options...]
# The corpus (fuzz/corpus-<target>/) starts from the committed seeds in fuzz/seeds/<target>/
# and the camera samples in ../shared/testdata/exif when present. Crashing inputs land in
# fuzz/artifacts/; keep any real finding as a regression test under tests/fixtures/.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 1 ]; then
    echo "usage: $0 <target> [seconds] [libFuzzer options...]" >&2
    exit 2
fi
target="$1"
seconds="${2:-60}"
shift $(($# >= 2 ? 2 : 1))

cmake --preset fuzz >/dev/null
cmake --build build-fuzz --target "$target" -j "$(nproc)"

corpus="fuzz/corpus-$target"
mkdir -p "$corpus" fuzz/artifacts
if [ -d "fuzz/seeds/$target" ]; then
    cp -n "fuzz/seeds/$target"/* "$corpus"/ 2>/dev/null || true
fi
samples="../shared/testdata/exif"
if [ -d "$samples" ]; then
    for f in "$samples"/*.jpg "$samples"/*.JPG; do
        [ -e "$f" ] && cp -n "$f" "$corpus"/
    done
fi

# An EXIF segment is at most 64 KiB; longer inputs only slow the mutations down.
exec "build-fuzz/fuzz/$target" -max_total_time="$seconds" -max_len=70000 -rss_limit_mb=2048 \
    -timeout=10 -artifact_prefix=fuzz/artifacts/ -print_final_stats=1 "$@" "$corpus"
