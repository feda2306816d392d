#!/usr/bin/env bash
# Builds the benchmarks in a Release tree of their own (build-bench) and runs
# them all: each measures the service and its baseline side by side and
# prints their ratio. At the end the table is printed and written as JSON to
# build-bench/bench-results.json. Benchmarks inform; a missed target does not
# fail the run.
# Usage: bash tools/bench.sh [--quick]   (installs missing Debian packages)
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=deps.sh
source "$top/tools/deps.sh"
starscam_install_deps "${starscam_packages[@]}"

quick=()
if [ "${1:-}" = "--quick" ]; then
    quick=(--quick)
fi

build="${STARSCAM_BENCH_DIR:-$top/build-bench}"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DSTARSCAM_BENCH=ON -DSTARSCAM_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target starscam echonode bench_report \
    bench_bus bench_image bench_sequence bench_memory bench_startup

# The nodes' working directories and the image files go here, on the file
# system of the build tree (the plain-write baseline writes to the same one).
work="$build/bench-run"
rm -rf "$work"
mkdir -p "$work"
lines="$build/bench-results.jsonl"
: >"$lines"

echo "load average before: $(cut -d" " -f1-3 /proc/loadavg) on $(nproc) cores"
status=0
for bench in bus image sequence memory startup; do
    echo
    # The service flushes every image it stores: what one program left for
    # the disk to write must not fall on the next one's flushes.
    sync
    "$build/bench/$bench/bench_$bench" --results "$lines" --work "$work" "${quick[@]}" || status=1
done
rm -rf "$work"
echo
echo "load average after: $(cut -d" " -f1-3 /proc/loadavg)"

echo
"$build/bench/report/bench_report" "$lines" "$build/bench-results.json"
exit $status
