#!/usr/bin/env bash
# Configures and builds into build/, always with warnings as errors, so that
# scripts/run.sh and scripts/test.sh share one build: neither rebuilds what
# the other built. With --station first, only what running the station needs:
# the station, the camera plug-in, the board simulator, the tools and the
# factory working directory (no tests, no benchmarks). Without it, every
# target. Further arguments go to cmake. STATION_JOBS sets how many jobs
# build at once (every core by default).
set -euo pipefail
cd "$(dirname "$0")/.."
targets=()
what="everything (station, tests, benchmarks)"
if [ "${1:-}" = "--station" ]; then
  shift
  targets=(--target station simcamera boardsim paramgen mkimages export_result_statistics workdir workdir_converter)
  what="the station and its tools"
fi
jobs="${STATION_JOBS:-$(nproc)}"
if ! [[ "$jobs" =~ ^[1-9][0-9]*$ ]]; then
  echo "STATION_JOBS must be a whole number of jobs, 1 or more (it is \"$jobs\")" >&2
  exit 2
fi
echo "== Building $what into build/ (only what changed since the last build; compile jobs at once: $jobs)"
cmake -S . -B build -G Ninja -DSTATION_WERROR=ON "$@" >/dev/null
cmake --build build -j "$jobs" "${targets[@]}"
