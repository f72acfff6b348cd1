#!/usr/bin/env bash
# Installs what is missing, configures and builds into $OMBRIX_BUILD_DIR
# (build/ by default); the run, test and benchmark commands start with it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
build=${OMBRIX_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build"
