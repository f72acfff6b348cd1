#!/usr/bin/env bash
# The whole test suite from a fresh checkout: installs what is missing,
# configures, builds and runs every test; CTest starts and stops the test MariaDB.
# Then the fuzz targets run for a few seconds each in a sanitizer build of their own.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/build.sh
build=${OMBRIX_BUILD_DIR:-build}
ctest --test-dir "$build" --output-on-failure "$@"
# The whole suite also fuzzes each parser briefly (a filtered run does not).
[ $# -gt 0 ] || scripts/fuzz.sh 5
