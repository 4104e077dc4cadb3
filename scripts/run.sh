#!/usr/bin/env bash
# Installs the dependencies, builds, and starts Captiomark. Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh dev
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: starting under a virtual X server (xvfb-run)." >&2
    exec xvfb-run -a build/app/captiomark "$@"
fi
exec build/app/captiomark "$@"
