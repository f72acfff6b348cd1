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
build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOMBRIX_FUZZ=ON >/dev/null
cmake --build "$build" --target MySqlDialectMap "${targets[@]/#/fuzz_}" >/dev/null

export OMBRIX_APP_DIR="$PWD/$build/app" QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
status=0
for target in "${targets[@]}"; do
    work="$build/corpus/$target"
    crashes="tests/fuzz/crashes/$target"
    mkdir -p "$work" "$crashes"
    log="$build/fuzz_$target.log"
    if "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
        -artifact_prefix="$crashes/" "$work" "tests/fuzz/corpus/$target" >"$log" 2>&1; then
        echo "fuzz_$target: $(grep -o 'Done [0-9]* runs in [0-9]* second(s)' "$log")"
    else
        tail -n 60 "$log"
        echo "fuzz_$target FAILED; the input is in $crashes/"
        status=1
    fi
done
exit $status
