#!/usr/bin/env bash
# Builds the service, its tools and the test suite with AddressSanitizer and
# UndefinedBehaviorSanitizer in a build directory of its own, then runs every
# test. Any sanitizer report, in a test or in a program a test starts (the
# service, the test STARS server, the command-line client), fails the run.
#
# Usage: bash tools/sanitize.sh
#   STARSCAM_ASAN_BUILD_DIR  build directory (default: <repo>/build-asan)
#   STARSCAM_ASAN_CXX        compiler: clang++-14 (default) or g++
#
# clang is the default: with gcc, UndefinedBehaviorSanitizer (a runtime of its
# own next to AddressSanitizer) ignores log_path and writes to stderr only, so
# a finding in a child process shows only as that child dying. Both are clean.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=deps.sh
source "$top/tools/deps.sh"
cxx="${STARSCAM_ASAN_CXX:-clang++-14}"
case "$cxx" in
    clang++*) starscam_install_deps "${starscam_packages[@]}" clang-14 libclang-rt-14-dev ;;
    *) starscam_install_deps "${starscam_packages[@]}" ;;
esac

build="${STARSCAM_ASAN_BUILD_DIR:-$top/build-asan}"
cxx_path="$(command -v "$cxx")" || { echo "sanitize.sh: no compiler $cxx" >&2; exit 2; }
# A build directory configured with another compiler (even the same one under
# another name) is configured afresh: CMake would drop the options given here
# when it throws its cache away itself.
if [ -f "$build/CMakeCache.txt" ] &&
    ! grep -qxF "CMAKE_CXX_COMPILER:STRING=$cxx_path" "$build/CMakeCache.txt" &&
    ! grep -qxF "CMAKE_CXX_COMPILER:FILEPATH=$cxx_path" "$build/CMakeCache.txt"; then
    echo "sanitize.sh: configuring $build afresh for $cxx_path"
    rm -rf "$build/CMakeCache.txt" "$build/CMakeFiles"
fi
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER="$cxx_path" \
    -DSTARSCAM_SANITIZE=ON -DSTARSCAM_BENCH=OFF >/dev/null
if ! grep -qxF "STARSCAM_SANITIZE:BOOL=ON" "$build/CMakeCache.txt"; then
    echo "sanitize.sh: $build is not configured with STARSCAM_SANITIZE=ON" >&2
    exit 2
fi
cmake --build "$build" -j"$(nproc)"

# Every sanitized process writes its report to a file of its own
# (<prefix>.<pid>) as well as dying at once. Children do not always pass
# their exit status on to the test that started them (the service is killed
# at the end of most tests, and ends with status 0 by design when its bus
# connection goes), so the files are what decides.
reports="$build/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
common="halt_on_error=1:abort_on_error=1:print_stacktrace=1:log_path=$reports/report"
# allocator_may_return_null: the service asks for image buffers with a
# non-throwing new and refuses the start when none is had; tests ask for
# absurd sizes on purpose.
export ASAN_OPTIONS="$common:allocator_may_return_null=1:detect_leaks=1:fast_unwind_on_malloc=0:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
export UBSAN_OPTIONS="$common:report_error_type=1"
export LSAN_OPTIONS="suppressions=$top/tools/lsan.supp:print_suppressions=0"

status=0
ctest --test-dir "$build" --output-on-failure -j2 --timeout 600 || status=$?

found=0
for f in "$reports"/report.*; do
    [ -s "$f" ] || continue
    # A refused allocation the program was ready for (a non-throwing new
    # that returned null) leaves only this warning: not a finding.
    if ! grep -v -q -E '^==[0-9]+==WARNING: AddressSanitizer failed to allocate 0x[0-9a-f]+ bytes$|^$' "$f"; then
        continue
    fi
    found=1
    echo "==== sanitizer report $f"
    cat "$f"
done
if [ "$found" -ne 0 ]; then
    echo "sanitize.sh: sanitizer reports found (above)" >&2
    exit 1
fi
if [ "$status" -ne 0 ]; then
    echo "sanitize.sh: tests failed" >&2
    exit "$status"
fi
echo "sanitize.sh: all tests passed, no sanitizer report"
