#!/usr/bin/env bash
# Installs the packages, builds with warnings as errors and runs every test
# headless. It builds into the same build/ as scripts/run.sh, with the same
# options, so what the station run built is reused.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "== Checking the Debian packages"
bash scripts/deps.sh
echo "== Checking that the core library includes no widget header"
bash scripts/check-core-includes.sh
bash scripts/build.sh
echo "== Checking that no core program links Qt Widgets"
bash scripts/check-core-binaries.sh build
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
chmod 700 "$XDG_RUNTIME_DIR"
cd build
echo "== Running the tests (ctest, $(nproc) at a time)"
ctest --output-on-failure -j "$(nproc)" --timeout 900
