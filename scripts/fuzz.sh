#!/usr/bin/env bash
# Fuzzes each parser that reads outside input for SECONDS (60 by default)
# with libFuzzer, the address and undefined-behaviour sanitizers, in a build
# of its own (build-fuzz/, clang). Inputs that crash are written to
# tests/fuzz/crashes/<target>/; add them to tests/fuzz/corpus/<target>/ once
# fixed, so that the normal test run replays them.
#   scripts/fuzz.sh [SECONDS] [TARGET...]     targets: frame tabledefinition datafile
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("${@:-frame tabledefinition datafile}")
read -r -a targets <<< "${targets[*]}"

scripts/install-deps.sh
command -v clang++ >/dev/null || { SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo;
    $SUDO apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev; }
build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOMBRIX_FUZZ=ON >/dev/null
cmake --build "$build" --target MySqlDialectMap "${targets[@]/#/fuzz_}"

export OMBRIX_APP_DIR="$PWD/$build/app" QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
status=0
for target in "${targets[@]}"; do
    work="$build/corpus/$target"
    crashes="tests/fuzz/crashes/$target"
    mkdir -p "$work" "$crashes"
    echo "== fuzz_$target for ${seconds}s"
    "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
        -artifact_prefix="$crashes/" "$work" "tests/fuzz/corpus/$target" || status=1
done
exit $status
