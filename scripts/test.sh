#!/usr/bin/env bash
# Builds KORVEX and runs every test (unit tests and the tool's end-to-end
# scripts). With --sanitize the same tests run under AddressSanitizer and
# UndefinedBehaviorSanitizer in a build directory of their own.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=build
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
    build=build-asan
    options=(-DCMAKE_BUILD_TYPE=Debug -DKORVEX_SANITIZE=ON -DKORVEX_BUILD_BENCH=OFF)
fi
cmake -S . -B "$build" -G Ninja "${options[@]}" >/dev/null
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure -j2
