#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each one for a while on a copy of its
# seed corpus (fuzz/corpus/<target>, left untouched). Fails on any crash,
# sanitizer report or broken invariant, printing the input and how to replay it.
#
# Usage: bash tools/fuzz.sh [seconds-per-target]      (default 30)
#   STARSCAM_FUZZ_BUILD_DIR  build directory (default: <repo>/build-fuzz)
#   STARSCAM_FUZZ_JOBS       targets run at the same time (default: cores, at most 2)
#   STARSCAM_FUZZ_TARGETS    targets to run (default: all)
#   STARSCAM_FUZZ_RUNS       stop a target after this many executions, or at
#                            its time, whichever comes first (default: no cap);
#                            e.g. STARSCAM_FUZZ_RUNS=10000000 bash tools/fuzz.sh 7200
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-30}"
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [seconds-per-target]" >&2
    exit 2
fi
runs=()
if [ -n "${STARSCAM_FUZZ_RUNS:-}" ]; then
    if ! [[ "$STARSCAM_FUZZ_RUNS" =~ ^[1-9][0-9]*$ ]]; then
        echo "fuzz.sh: STARSCAM_FUZZ_RUNS must be a positive number" >&2
        exit 2
    fi
    runs=(-runs="$STARSCAM_FUZZ_RUNS")
fi
# shellcheck source=deps.sh
source "$top/tools/deps.sh"
starscam_install_deps "${starscam_packages[@]}" clang-14 libclang-rt-14-dev

build="${STARSCAM_FUZZ_BUILD_DIR:-$top/build-fuzz}"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
    -DSTARSCAM_FUZZ=ON -DSTARSCAM_SANITIZE=OFF -DSTARSCAM_TESTS=OFF -DSTARSCAM_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzz_all

read -r -a targets <<<"${STARSCAM_FUZZ_TARGETS:-parse config keys filename receive}"
jobs="${STARSCAM_FUZZ_JOBS:-$(nproc)}"
[ "$jobs" -gt 2 ] && [ -z "${STARSCAM_FUZZ_JOBS:-}" ] && jobs=2
[ "$jobs" -ge 1 ] || jobs=1

run="$build/fuzz-run"
rm -rf "$run"
# Freed memory waits in a quarantine of 32 MiB instead of 256 before it is
# reused: still twenty times what the largest execution allocates (under
# 1.5 MiB: a 16 KiB receive input of short lines, fed eight times over in
# one-byte chunks), so a use after free within an execution, or in one of the
# twenty after it, is caught as before; memory reused sooner is still in the
# cache. Free memory is kept instead of being handed back to the system every
# few seconds, which cost page faults. The targets run about a third faster.
export ASAN_OPTIONS="print_stacktrace=1:detect_leaks=1:quarantine_size_mb=32:allocator_release_to_os_interval_ms=-1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

fuzz_one() {
    local t="$1" dir="$run/$1" max_len=4096
    # Lines may be 3999 bytes: the stream needs room for a few of them.
    [ "$t" = receive ] && max_len=16384
    mkdir -p "$dir/corpus" "$dir/artifacts"
    cp -R "$top/fuzz/corpus/$t/." "$dir/corpus/"
    local status=0
    (cd "$dir" && "$build/fuzz/fuzz_$t" -max_total_time="$seconds" "${runs[@]}" -max_len="$max_len" -timeout=20 \
        -rss_limit_mb=2048 -use_value_profile=1 -print_final_stats=1 \
        -dict="$top/fuzz/dict/stars.dict" -artifact_prefix="$dir/artifacts/" corpus) \
        >"$dir/log" 2>&1 || status=$?
    echo "$status" >"$dir/status"
}

echo "Fuzzing ${targets[*]} for ${seconds} s each${STARSCAM_FUZZ_RUNS:+ or ${STARSCAM_FUZZ_RUNS} executions}, $jobs at a time"
running=0
for t in "${targets[@]}"; do
    if [ ! -x "$build/fuzz/fuzz_$t" ]; then
        echo "fuzz.sh: no target fuzz_$t" >&2
        exit 2
    fi
    if [ "$running" -ge "$jobs" ]; then
        wait -n || true
        running=$((running - 1))
    fi
    fuzz_one "$t" &
    running=$((running + 1))
done
wait

failed=0
printf '%-10s %12s %10s %8s\n' target executions exec/s corpus
for t in "${targets[@]}"; do
    dir="$run/$t"
    status="$(cat "$dir/status" 2>/dev/null || echo 1)"
    units="$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -1)"
    speed="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$dir/log" | tail -1)"
    corpus="$(find "$dir/corpus" -type f | wc -l)"
    printf '%-10s %12s %10s %8s\n' "$t" "${units:-?}" "${speed:-?}" "$corpus"
    # crash-, leak-, timeout- and oom- inputs fail the run; a slow-unit- one
    # (a single input that took seconds) is only shown.
    artifacts=()
    for a in "$dir"/artifacts/*; do
        case "$(basename "$a")" in
            crash-* | leak-* | timeout-* | oom-*) artifacts+=("$a") ;;
            slow-unit-*) echo "note: fuzz_$t: slow input $a" ;;
        esac
    done
    if [ "$status" -ne 0 ] || [ "${#artifacts[@]}" -gt 0 ]; then
        failed=1
        echo "==== fuzz_$t failed (status $status); the end of its log:"
        grep -v -E '^#[0-9]+' "$dir/log" | tail -60
        for a in "${artifacts[@]}"; do
            echo "---- input $a ($(stat -c %s "$a") bytes):"
            od -A d -c "$a" | head -20
            echo "---- replay: $build/fuzz/fuzz_$t $a"
            echo "     then add it to tests/fuzzregressions/tst_fuzzregressions.cpp"
        done
    fi
done
if [ "$failed" -ne 0 ]; then
    echo "fuzz.sh: failures found (above)" >&2
    exit 1
fi
echo "fuzz.sh: no failure"
