#!/usr/bin/env bash
# Builds what is missing and runs the benchmark; arguments go to OmbrixBenchmark
# (e.g. --seconds 5 --clients 1,8). It starts and stops its own MariaDB.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/build.sh
build=${OMBRIX_BUILD_DIR:-build}
exec "$build/app/OmbrixBenchmark" "$@"
