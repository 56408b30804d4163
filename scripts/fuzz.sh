#!/usr/bin/env bash
# A fuzzing campaign over the libFuzzer targets of fuzz/, under AddressSanitizer
# and UndefinedBehaviorSanitizer, with a time budget per target. Each target
# starts from its checked-in seeds (fuzz/corpus/TARGET) and its dictionary
# (fuzz/dict/TARGET.dict) and keeps what it finds in build-fuzz/work/TARGET;
# findings land in build-fuzz/findings/TARGET. Prints executions, coverage and
# findings per target; exits 1 when there is a finding.
#
# With --fast the targets are built without the sanitizers (build-fuzz-fast):
# three to four times the executions for volume, crashes and hangs only.
# Its runs allocate through tcmalloc when the machine has it (Debian's
# libtcmalloc-minimal4): the targets that load a whole machine per run spend
# a third of their time in the C library's allocator.
#
# With -n RUNS a target stops after RUNS executions (or its time budget).
#
# With --replay nothing is fuzzed: every input the campaigns kept (both
# builds' work corpora and the seeds) runs once under the sanitizers, so that
# what a --fast campaign found is also checked for memory and undefined
# behaviour.
#
#   scripts/fuzz.sh [-t SECONDS] [-n RUNS] [--no-build] [--fast|--replay] [TARGET...]
#   (default 300 s, all targets)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=300
runs=-1
replay=no
build=yes
sanitize=ON
out=build-fuzz
targets=()
while [ $# -gt 0 ]; do
    case "$1" in
        -t) seconds="$2"; shift 2 ;;
        -n) runs="$2"; shift 2 ;;
        --no-build) build=no; shift ;;
        --fast) sanitize=OFF; out=build-fuzz-fast; shift ;;
        --replay) replay=yes; shift ;;
        -h|--help) sed -n '2,24p' "$0"; exit 0 ;;
        *) targets+=("$1"); shift ;;
    esac
done
if [ "$build" = yes ]; then
    CXX="${CXX:-clang++}" cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DKORVEX_BUILD_FUZZ=ON -DKORVEX_SANITIZE=$sanitize -DKORVEX_BUILD_TESTS=OFF \
        -DKORVEX_BUILD_BENCH=OFF -DKORVEX_BUILD_TOOLS=ON -DKORVEX_BUILD_EXAMPLES=OFF \
        -DKORVEX_INSTALL=OFF >/dev/null
    nice cmake --build "$out"
fi
if [ ${#targets[@]} -eq 0 ]; then
    for source in fuzz/*_fuzz.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi

tcmalloc=/usr/lib/x86_64-linux-gnu/libtcmalloc_minimal.so.4
if [ "$out" = build-fuzz-fast ] && [ -f "$tcmalloc" ]; then export LD_PRELOAD="$tcmalloc"; fi

status=0
# A saved input, or a libFuzzer or sanitizer report in the log, is a finding.
check() {
    if [ "$1" -gt 0 ] || grep -q 'ERROR: libFuzzer\|SUMMARY: .*Sanitizer' "$2"; then
        echo "  finding: see $2 and $3" >&2
        status=1
    fi
}
if [ "$replay" = yes ]; then
    [ "$out" = build-fuzz ] || { echo "--replay runs the sanitizer build; leave out --fast" >&2; exit 2; }
    printf '%-20s %8s %8s %8s\n' target inputs seconds findings
    for target in "${targets[@]}"; do
        findings="$out/findings/$target"
        mkdir -p "$findings" "$out/work"
        dirs=()
        for dir in build-fuzz/work/$target build-fuzz-fast/work/$target fuzz/corpus/$target; do
            [ -d "$dir" ] && dirs+=("$dir")
        done
        [ ${#dirs[@]} -gt 0 ] || continue
        inputs=$(find "${dirs[@]}" -type f | wc -l)
        # libFuzzer keeps what it adds in its first directory: a scratch one.
        scratch=$(mktemp -d)
        log="$out/work/$target.replay.log"
        start=$(date +%s)
        nice "$out/$target" -runs=0 -timeout=20 -rss_limit_mb=2048 -close_fd_mask=3 \
            -artifact_prefix="$findings/" "$scratch" "${dirs[@]}" >"$log" 2>&1 || true
        rm -rf "$scratch"
        found=$(find "$findings" -type f | wc -l)
        printf '%-20s %8s %8s %8s\n' "$target" "$inputs" "$(($(date +%s) - start))" "$found"
        check "$found" "$log" "$findings"
    done
    exit $status
fi
printf '%-20s %6s %12s %9s %7s %7s %7s %8s\n' target seconds executions exec/s cov features corpus findings
for target in "${targets[@]}"; do
    work="$out/work/$target"
    findings="$out/findings/$target"
    mkdir -p "$work" "$findings"
    dict=()
    [ -f "fuzz/dict/$target.dict" ] && dict=(-dict="fuzz/dict/$target.dict")
    log="$out/work/$target.log"
    # Standard output and error of the library go to /dev/null; libFuzzer and
    # the sanitizers still report on the terminal's standard error.
    nice "$out/$target" "${dict[@]}" -max_total_time="$seconds" -runs="$runs" -timeout=20 -rss_limit_mb=2048 \
        -print_final_stats=1 -close_fd_mask=3 -artifact_prefix="$findings/" \
        "$work" "fuzz/corpus/$target" >"$log" 2>&1 || true
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
    features=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
    corpus=$(find "$work" -type f | wc -l)
    found=$(find "$findings" -type f | wc -l)
    printf '%-20s %6s %12s %9s %7s %7s %7s %8s\n' "$target" "$seconds" "${executions:-?}" \
        "${rate:-?}" "${cov:-?}" "${features:-?}" "$corpus" "$found"
    check "$found" "$log" "$findings"
done
exit $status
