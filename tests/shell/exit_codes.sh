#!/usr/bin/env bash
# The tool's exit codes are the library's: one row per class of failure (a
# load that ends the process, a verb that fails, wrong usage), each failure
# told once on standard error.
# usage: exit_codes.sh KORVEX SAMPLE_MACHINE FIXTURES WORK
set -uo pipefail
korvex=$1 sample=$2 fixtures=$3 work=$4
rm -rf "$work" && mkdir -p "$work" && cp -r "$sample" "$work/sample" && rm -f "$work/sample"/*.BIN
cp -r "$fixtures"/. "$work/"
cd "$work"
failures=0

# code | what the stderr must hold exactly once | arguments
while IFS='|' read -r code once args; do
    [ -z "$code" ] && continue
    read -ra argv <<<"$args"
    "$korvex" "${argv[@]}" >out 2>err
    got=$?
    # An empty pattern: nothing may be said at all.
    if [ -z "$once" ]; then count=$([ -s err ] && echo 0 || echo 1); else count=$(grep -cF -- "$once" err); fi
    if [ "$got" -ne "$code" ] || [ "$count" -ne 1 ]; then
        echo "exit_codes: korvex $args: exit $got (want $code), '$once' $count times in:"
        cat err
        failures=$((failures + 1))
    fi
done <<'TABLE'
0|| -m sample check
5|FILE NOT FOUND !!| -m no-such-machine check
5|FILE NOT FOUND !!| -m nodef check
5|FILE NOT FOUND !!| -m nohandles check
8|Handle already exists !!| -m badnumber check
7|Syntax - Error in Handle - File !!| -m dupname check
10|Unknown keyword !!| -m baddef check
3|Value out of range| -m sample input XParkPos 800.
6|Handle not found!| -m sample get NoSuchHandle
64|unknown verb| -m sample frobnicate
64|usage: get| -m sample get
64|unknown option| --no-such-option check
TABLE
# Output that does not reach its file is a failure that says why.
"$korvex" -m sample list >/dev/full 2>err
got=$?
if [ "$got" -ne 74 ] || ! grep -q "cannot write standard output: No space left on device" err; then
    echo "exit_codes: korvex list >/dev/full: exit $got (want 74) with:"
    cat err
    failures=$((failures + 1))
fi
# Under --json an option that cannot be parsed is a document on standard output too.
for args in "--json --no-such-option check" "--json --trace=verbs check"; do
    # shellcheck disable=SC2086
    "$korvex" $args >out 2>err
    got=$?
    if [ "$got" -ne 64 ] || ! grep -qE '^\{"error":64,"text":"[^"]+"\}$' out; then
        echo "exit_codes: korvex $args: exit $got (want 64) with a JSON error, got:"
        cat out
        failures=$((failures + 1))
    fi
done
[ "$failures" -eq 0 ] && echo "exit_codes: ok"
exit "$failures"
