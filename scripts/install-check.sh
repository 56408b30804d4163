#!/usr/bin/env bash
# Checks KORVEX as another project meets it: installs the library (static
# from ./build, which scripts/test.sh made, and shared from a build of its
# own) into a temporary prefix, builds the example host against each with
# find_package and with pkg-config, and builds it once more with KORVEX pulled
# in by add_subdirectory. Each example host runs on a copy of the installed
# sample machine, and once on a missing machine, where it must fail and say why.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
work=$(mktemp -d /tmp/korvex-install-check.XXXXXX)
trap 'rm -rf "$work"' EXIT
build_quietly() { nice cmake "$@" >"$work/log" 2>&1 || { cat "$work/log"; exit 1; }; }

# Runs an example host binary on a copy of the machine in PREFIX.
run_example() {
    local host=$1 prefix=$2
    rm -rf "$work/machine" && cp -r "$prefix/share/korvex/machines/sample" "$work/machine"
    local out
    out=$("$host" "$work/machine")
    [ "$out" = "XParkPos = 123456 (123.456 [mm])" ] || { echo "unexpected: $out"; exit 1; }
    if "$host" "$work/no-such-machine" 2>"$work/err"; then
        echo "example host succeeded on a missing machine"; exit 1
    fi
    grep -q "FILE NOT FOUND" "$work/err" || { echo "no reason given:"; cat "$work/err"; exit 1; }
}

# The installed tool of PREFIX finds the installed sample machine by itself
# and reads the caches it ships, also for a user who may not write them.
check_tool() {
    local prefix=$1 as_user=()
    [ "$(id -u)" -eq 0 ] && as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
    chmod -R a-w "$prefix/share/korvex/machines/sample" && chmod a+rx "$work" "$prefix"
    local out
    out=$(cd / && "${as_user[@]}" "$prefix/bin/korvex" check 2>&1) ||
        { echo "installed tool of $prefix: $out"; exit 1; }
    [ "$out" = "handles 253 definitions 253 cache handles:read definitions:read" ] ||
        { echo "installed tool of $prefix: $out"; exit 1; }
    chmod -R u+w "$prefix/share/korvex/machines/sample"
}

# Builds the example host against PREFIX with find_package and pkg-config.
check_prefix() {
    local prefix=$1
    if grep -rqF "$src" "$prefix/include" "$prefix/lib/cmake" "$prefix/lib/pkgconfig"; then
        echo "installed files name the source directory $src"; exit 1
    fi
    build_quietly -S examples -B "$work/by-cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix"
    build_quietly --build "$work/by-cmake"
    run_example "$work/by-cmake/example_host" "$prefix"
    rm -rf "$work/by-cmake"
    export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
    [ "$(pkg-config --modversion korvex)" = "$(sed -n 's/^project(korvex VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)" ]
    # shellcheck disable=SC2046
    nice g++ -o "$work/by-pkg-config" examples/host.cpp $(pkg-config --cflags --libs korvex)
    LD_LIBRARY_PATH="$prefix/lib" run_example "$work/by-pkg-config" "$prefix"
}

# README shows the example host's central lines; they must be the ones that
# compile here.
diff <(sed -n '/^    \/\/ --- ten lines$/,/^    \/\/ --- ten lines$/p' examples/host.cpp | sed '1d;$d;s/^    //') \
     <(sed -n '/^## A host in ten lines/,/^## /p' README.md | sed -n '/^```cpp$/,/^```$/p' | sed '1d;$d') ||
    { echo "README's host in ten lines differs from examples/host.cpp"; exit 1; }

echo "install-check: static library"
cmake --install build --prefix "$work/static" >/dev/null
[ -f "$work/static/lib/libkorvex.a" ] && [ -x "$work/static/bin/korvex" ]
check_prefix "$work/static"
check_tool "$work/static"

echo "install-check: shared library"
build_quietly -S . -B build-shared -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
    -DKORVEX_BUILD_TESTS=OFF -DKORVEX_BUILD_BENCH=OFF -DKORVEX_BUILD_EXAMPLES=OFF
build_quietly --build build-shared -j2
# Without debug information, any source path left in the library is one the
# code itself compiled in.
if strings build-shared/libkorvex.so | grep -qF "$src"; then
    echo "libkorvex.so holds the source directory $src"; exit 1
fi
cmake --install build-shared --prefix "$work/shared" >/dev/null
[ -f "$work/shared/lib/libkorvex.so" ]
# The tool finds the library beside it by a RUNPATH relative to itself.
readelf -d "$work/shared/bin/korvex" | grep -q 'RUNPATH.*\$ORIGIN/\.\./lib' ||
    { echo "the shared install's tool has no \$ORIGIN RUNPATH"; exit 1; }
check_tool "$work/shared"
check_prefix "$work/shared"

echo "install-check: add_subdirectory"
mkdir -p "$work/consumer"
cat >"$work/consumer/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.20)
project(consumer CXX)
add_subdirectory("$src" korvex)
add_subdirectory("$src/examples" example)
foreach(target korvex_tests korvex korvex_bench)
  if(TARGET \${target})
    message(FATAL_ERROR "\${target} is built for a project that only uses the library")
  endif()
endforeach()
CMAKE
build_quietly -S "$work/consumer" -B "$work/consumer/build" -G Ninja
build_quietly --build "$work/consumer/build"
mkdir -p "$work/sub/share/korvex/machines" && cp -r machines/sample "$work/sub/share/korvex/machines/"
run_example "$work/consumer/build/example/example_host" "$work/sub"
echo "install-check: ok"
