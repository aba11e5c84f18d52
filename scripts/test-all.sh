#!/bin/bash
# Builds and runs every test suite: native, native under ASan + UBSan, Windows under Wine, and the
# fuzz targets (corpus replay plus a short fuzzing burst). Exits non-zero when any of them fails.
#   HYD_FUZZ_SECONDS   length of the fuzzing burst, all targets together (default 60)
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh || exit 1

failures=()
step() { # step NAME COMMAND...
    local name=$1
    shift
    echo "=== $name"
    if ! "$@"; then
        failures+=("$name")
        echo "=== $name: FAILED"
    fi
}
configure_build() { cmake --preset "$1" >/dev/null && cmake --build --preset "$1" "${@:2}"; }
stop_wine() { cmake/wine-prefix.sh build/windows/wineprefix --stop; }
trap stop_wine EXIT

fuzz_burst() {
    local targets=() t
    for t in build/fuzz/bin/fuzz_*; do
        case $t in */fuzz_replay_* | */fuzz_seeds_*) ;; *) targets+=("$t") ;; esac
    done
    local seconds=$(( ${HYD_FUZZ_SECONDS:-60} / ${#targets[@]} ))
    [ "$seconds" -lt 5 ] && seconds=5
    mkdir -p build/fuzz/artifacts
    local name corpus
    for t in "${targets[@]}"; do
        name=${t##*/fuzz_}
        corpus=build/fuzz/corpus/$name
        mkdir -p "$corpus"
        cp -n build/fuzz/fuzz/seeds/"$name"/* fuzz/corpus/"$name"/* "$corpus"/ 2>/dev/null
        echo "fuzzing $name for ${seconds}s"
        "$t" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix=build/fuzz/artifacts/ \
            "$corpus" >build/fuzz/"$name".log 2>&1 || { tail -40 build/fuzz/"$name".log; return 1; }
        grep -E '^stat::number_of_executed_units' build/fuzz/"$name".log
    done
}

step "format" scripts/check-format.sh
step "native build" configure_build native
step "native tests" ctest --preset native
step "sanitizer build" configure_build native-asan
step "sanitizer tests" ctest --preset native-asan
step "fuzz build" configure_build fuzz --target fuzzers
step "fuzz replay" ctest --preset fuzz -R fuzz_replay
step "fuzz burst" fuzz_burst
step "windows build" configure_build windows
step "windows tests (Wine)" ctest --preset windows

if [ ${#failures[@]} -ne 0 ]; then
    echo "FAILED: ${failures[*]}"
    exit 1
fi
echo "all suites passed: native, sanitizers, fuzz, windows under Wine"
