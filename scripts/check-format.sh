#!/bin/bash
# Fails when a tracked C or C++ file differs from what clang-format (the repo's .clang-format) makes
# of it. `scripts/check-format.sh --fix` rewrites them instead.
set -uo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files -- '*.c' '*.cpp' '*.h' '*.cc' '*.hpp')
if [ "${1:-}" = --fix ]; then
    exec clang-format -i "${files[@]}"
fi
clang-format --dry-run --Werror "${files[@]}"
