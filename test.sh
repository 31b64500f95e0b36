#!/usr/bin/env bash
# Builds pixremap with warnings as errors and runs every test, then builds it
# again with AddressSanitizer and UndefinedBehaviorSanitizer and runs every
# test once more.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/packages.sh
need_packages "${build_packages[@]}" "${test_packages[@]}"

jobs=$(nproc)
run_suite() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DPIXREMAP_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

echo "== tests"
run_suite build
echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
run_suite build-sanitize -DPIXREMAP_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
