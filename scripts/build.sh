#!/usr/bin/env bash
# Configures and builds into build/. With --station first, only what running
# the station needs: the station, the camera plug-in, the board simulator, the
# tools and the factory working directory (no tests, no benchmarks). Without
# it, every target. Further arguments go to cmake.
set -euo pipefail
cd "$(dirname "$0")/.."
targets=()
if [ "${1:-}" = "--station" ]; then
  shift
  targets=(--target station simcamera boardsim paramgen mkimages export_result_statistics workdir workdir_converter)
fi
cmake -S . -B build -G Ninja "$@" >/dev/null
cmake --build build -j "$(nproc)" "${targets[@]}"
