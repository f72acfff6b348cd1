#!/usr/bin/env bash
# Builds what is missing and runs the benchmark; arguments go to OmbrixBenchmark
# (e.g. --seconds 5 --clients 1,8). It starts and stops its own MariaDB.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
build=${OMBRIX_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build"
exec "$build/app/OmbrixBenchmark" "$@"
