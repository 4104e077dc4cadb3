#!/usr/bin/env bash
# Configures and builds with a CMake preset (default: dev) into build*/.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-dev}"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)"
