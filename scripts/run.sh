#!/usr/bin/env bash
# Installs the dependencies, builds, and starts Captiomark. Extra arguments go to the program.
# Without a display, it does the program's main job headless instead: it burns the sample
# pattern into the sample photo and says where the result is.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh dev
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    mkdir -p out
    build/app/captiomark-cli render --pattern examples/sample-pattern.xml \
        --output "$PWD/out/sample-captioned.jpg" examples/sample-photo.jpg
    echo "No display: captioned examples/sample-photo.jpg with examples/sample-pattern.xml into out/sample-captioned.jpg." >&2
    echo "With a display this command opens the editor; see README.md for captiomark-cli." >&2
    exit 0
fi
exec build/app/captiomark "$@"
