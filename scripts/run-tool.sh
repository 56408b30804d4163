#!/usr/bin/env bash
# Builds the korvex tool and runs it on the sample machine with the simulated
# controller. Arguments are passed to the tool (default: check and list the
# machine); with none and a terminal, it then opens the interactive shell.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target korvex
if [ $# -gt 0 ]; then
    exec ./build/korvex "$@"
fi
./build/korvex --sim build/sample.sim check
./build/korvex --sim build/sample.sim --trace -f - <<'VERBS'
sim poke 583 0 00000000
check
VERBS
