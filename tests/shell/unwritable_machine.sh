#!/usr/bin/env bash
# A machine directory the tool cannot write, as a user who may not write it
# (nobody, when the tests run as root): it loads every time. Without caches,
# or with stale ones, the text files are read and nothing is written, with a
# warning naming the directory and the command that prepares it; once its
# owner has run check, the caches are read, however soon after.
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
machine=$work/machine
# Runs check as the user who may not write the directory; expects STATE.
check_as_user() {
    "${as_user[@]}" "$korvex" -m "$machine" check >"$work/out" 2>"$work/err" ||
        fail "$1: the load failed:$(cat "$work/err")"
    grep -qx "handles 253 definitions 253 cache $2" "$work/out" || fail "$1: $(cat "$work/out")"
}
warning="korvex: warning: the caches in $machine are stale and the directory is not writable: \
the text files were read; run 'korvex -m $machine check' as its owner to rewrite them"

chmod 555 "$machine"
check_as_user "no caches" "handles:unwritten definitions:unwritten"
grep -qxF "$warning" "$work/err" || fail "no caches: $(cat "$work/err")"
[ -z "$(ls "$machine"/*.BIN 2>/dev/null)" ] || fail "a cache was written"

# Prepared by its owner: read at once, and again, with nothing said.
chmod 755 "$machine"
"$korvex" -m "$machine" check >/dev/null
chmod 555 "$machine"
for run in first second; do
    check_as_user "$run run after check" "handles:read definitions:read"
    [ ! -s "$work/err" ] || fail "a good load said: $(cat "$work/err")"
done

# The handle file changed since: its text is read, and the definitions'
# with it (their cache may number the handles otherwise); values work.
chmod 755 "$machine"
echo "; changed" >>"$machine/HANDLES.TXT"
chmod 555 "$machine"
check_as_user "stale handle cache" "handles:unwritten definitions:unwritten"
grep -qxF "$warning" "$work/err" || fail "stale handle cache: $(cat "$work/err")"
"${as_user[@]}" "$korvex" -m "$machine" get XParkPos >"$work/out" 2>"$work/err" ||
    fail "get after a stale handle cache:$(cat "$work/err")"

# Stale caches the user may write, in a directory that takes no new file:
# they are rewritten in place.
chmod 755 "$machine"
[ "$(id -u)" -eq 0 ] && chown 65534 "$machine"/*.BIN
chmod 555 "$machine"
check_as_user "stale writable caches" "handles:written definitions:written"
[ ! -s "$work/err" ] || fail "rewriting in place said: $(cat "$work/err")"
chmod 755 "$machine"
echo "unwritable_machine: ok"
