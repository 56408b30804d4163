#!/usr/bin/env bash
# Builds KORVEX with coverage counters in a build directory of its own, runs
# every test (unit tests and the tool's end-to-end scripts) and prints line and
# branch coverage of the library and the tool. Tests, benchmarks and fuzz
# targets are not counted: they are what measures, not what is measured.
# Extra arguments go to gcovr (e.g. --html-details build-cov/coverage.html).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=build-cov
# -O0 keeps every source line and branch visible to the counters.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKORVEX_BENCH=OFF \
      -DCMAKE_CXX_FLAGS="--coverage -O0" -DCMAKE_EXE_LINKER_FLAGS="--coverage" >/dev/null
cmake --build "$build"
# Counters from an earlier run would add to this one's, and notes of objects
# the build no longer makes (a moved or removed source) would be read as
# sources of their own.
find "$build" -name '*.gcda' -delete
ninja -C "$build" -t cleandead >/dev/null
find "$build" -name '*.gcno' | while read -r notes; do
    [ -e "${notes%.gcno}.o" ] || rm -f "$notes"
done
ctest --test-dir "$build" -j2 >/dev/null || {
    echo "coverage: some tests failed; run ./scripts/test.sh" >&2
    exit 1
}
# Branches the compiler adds for exceptions (the library throws none) and
# branches it proves unreachable would only blur the figure.
gcovr --root . --object-directory "$build" --exclude-directories "$build/CMakeFiles/[0-9].*" \
      --filter 'korvex/' --filter 'tools/' \
      --exclude '.*_test\.cpp$' --exclude '.*_test_.*\.h$' --exclude 'tests/' \
      --exclude 'bench/' --exclude 'fuzz/' \
      --exclude-throw-branches --exclude-unreachable-branches \
      --print-summary "$@" | tail -n 3
