#!/usr/bin/env bash
# A machine directory the tool cannot write: without caches the load fails
# and the tool names the directory and the system's reason first; with valid
# caches it loads. As root (who may write anywhere) the tool runs as nobody.
# usage: unwritable_machine.sh KORVEX SAMPLE_MACHINE WORK
set -euo pipefail
korvex=$1 sample=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
cp -r "$sample" "$work/machine" && rm -f "$work/machine"/*.BIN
chmod 755 "$work"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    # A coverage build's tool writes its counters next to its objects, which
    # nobody may not; they go to a directory of their own instead, or the
    # refusal would be printed and read as the tool's own output.
    mkdir -m 777 "$work/counters"
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups env GCOV_PREFIX="$work/counters")
fi
fail() { echo "unwritable_machine: $*"; exit 1; }

chmod 555 "$work/machine"
if "${as_user[@]}" "$korvex" -m "$work/machine" check >"$work/out" 2>"$work/err"; then
    fail "the load succeeded without caches in a read-only directory"
fi
head -n 1 "$work/err" | grep -qx "korvex: cannot write the caches in $work/machine: Permission denied" ||
    fail "no reason first:$(cat "$work/err")"

# Valid caches, written while the directory was writable, are enough.
chmod 755 "$work/machine"
"$korvex" -m "$work/machine" check >/dev/null
touch -d "1 day ago" "$work/machine/HANDLES.BIN"
chmod 555 "$work/machine"
"${as_user[@]}" "$korvex" -m "$work/machine" check >"$work/out" 2>"$work/err" ||
    fail "a read-only directory with valid caches did not load:$(cat "$work/err")"
grep -qx "handles 253 definitions 253 cache handles:read definitions:read" "$work/out" ||
    fail "unexpected: $(cat "$work/out")"
[ ! -s "$work/err" ] || fail "a good load said: $(cat "$work/err")"

# Stale caches the user may write, in a directory that takes no new file:
# no new cache can be put beside them, so they are rewritten in place.
# The text is dated far from the copy its caches were made of: a few seconds
# back could land in the same two-second stamp on a slow machine.
chmod 755 "$work/machine"
touch -d "2 days ago" "$work/machine/HANDLES.TXT"
[ "$(id -u)" -eq 0 ] && chown 65534 "$work/machine"/*.BIN
chmod 555 "$work/machine"
"${as_user[@]}" "$korvex" -m "$work/machine" check >"$work/out" 2>"$work/err" ||
    fail "stale writable caches in a read-only directory were not rewritten:$(cat "$work/err")"
grep -qx "handles 253 definitions 253 cache handles:written definitions:written" "$work/out" ||
    fail "unexpected: $(cat "$work/out")"
chmod 755 "$work/machine"
echo "unwritable_machine: ok"
