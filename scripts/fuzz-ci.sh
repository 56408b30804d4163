#!/usr/bin/env bash
# CI's fuzzing: builds the fuzz targets with clang under the sanitizers,
# replays every checked-in corpus (seeds and regression inputs of earlier
# findings), then fuzzes each target for a short fixed time. Takes about
# 10 s per target besides the build.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang++ >/dev/null && [ "$(id -u)" = 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang libclang-rt-dev >/dev/null ||
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang-14 libclang-rt-14-dev >/dev/null
fi
CXX=clang++
command -v clang++ >/dev/null || CXX=clang++-14
export CXX
out=build-fuzz
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVEX_BUILD_FUZZ=ON \
    -DKORVEX_SANITIZE=ON -DKORVEX_BUILD_TESTS=OFF -DKORVEX_BUILD_BENCH=OFF \
    -DKORVEX_BUILD_TOOLS=ON -DKORVEX_BUILD_EXAMPLES=OFF -DKORVEX_INSTALL=OFF >/dev/null
# Only the fuzz targets: the tool's own executable is not needed here.
targets=()
for source in fuzz/*_fuzz.cpp; do targets+=("$(basename "$source" .cpp)"); done
cmake --build "$out" --target "${targets[@]}"
for source in fuzz/*_fuzz.cpp; do
    target=$(basename "$source" .cpp)
    [ -d "fuzz/corpus/$target" ] || { echo "no corpus for $target" >&2; exit 1; }
    echo "replaying fuzz/corpus/$target"
    "$out/$target" -runs=0 -close_fd_mask=3 "fuzz/corpus/$target"
done
./scripts/fuzz.sh --no-build -t "${KORVEX_FUZZ_SECONDS:-10}"
