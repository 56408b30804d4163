#!/usr/bin/env bash
# Builds the korvex tool and runs it on the sample machine with the simulated
# controller. Arguments are passed to the tool; with none it shows a short
# tour of the sample machine. "serve" alone starts the service console's
# demo: a few values that move, on port 8080 (PORT=N for another).
set -euo pipefail
cd "$(dirname "$0")/.."
# Everything the build says goes to standard error, so that the tool's own
# output can be piped (run-tool.sh get X --json | python3 -m json.tool).
bash scripts/setup.sh >&2
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target korvex >&2
if [ "$*" = "serve" ]; then
    # Spindle speed, axis positions and a feed override that move, tool
    # diameters that may be typed; the page opens with them watched.
    echo "Open the address below; ?watch=XParkPos,YParkPos,FeedOverride plots them. Ctrl-C ends." >&2
    exec ./build/korvex -f - <<VERBS
sim wave XParkPos 0 sine 4000 200000 375000
sim wave YParkPos 0 ramp 6000 150000 325000
sim wave FeedOverride 0 square 3000 20 100
sim table TDiaD 20
serve 127.0.0.1:${PORT:-8080} --writable TDiaD --writable T*
VERBS
fi
if [ $# -gt 0 ]; then
    exec ./build/korvex "$@"
fi
# A short tour: load the machine, set a value in the simulated controller,
# show it in metric and in inch, and type a tool diameter with the trace on.
./build/korvex -f - <<'VERBS'
check
setraw XParkPos 123456
get XParkPos
inch 1 on
get XParkPos
VERBS
./build/korvex --trace input TDiaD 1.2 4
