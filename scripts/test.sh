#!/usr/bin/env bash
# Installs the packages, builds with warnings as errors and runs every test headless.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/check-core-includes.sh
bash scripts/build.sh -DSTATION_WERROR=ON
bash scripts/check-core-binaries.sh build
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
chmod 700 "$XDG_RUNTIME_DIR"
cd build
ctest --output-on-failure -j "$(nproc)" --timeout 900
