#!/usr/bin/env bash
# Measures a fleet of korvex bridges on one local Mosquitto and prints one
# line: fleet: N bridges, R msg/s, p50 X ms, p99 Y ms, lost L, rss Z MB/bridge,
# cpu C%/bridge. Exit 0 when no change was lost.
#
# usage: scripts/bridge-fleet.sh [--bridges N] [--seconds S] [--rate CHANGES/S]
#                                [--interval MS] [--korvex PATH] [--keep]
# The korvex executable is build/korvex unless --korvex or KORVEX names one.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export KORVEX=${KORVEX:-$here/../build/korvex}
exec python3 "$here/bridge_fleet.py" "$@"
