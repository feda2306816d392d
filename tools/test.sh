#!/usr/bin/env bash
# Builds the service, its tools and the test suite, then runs every test.
# Usage: bash tools/test.sh   (from anywhere; installs missing Debian packages)
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=deps.sh
source "$top/tools/deps.sh"
starscam_install_deps "${starscam_packages[@]}"

build="${STARSCAM_BUILD_DIR:-$top/build}"
# STARSCAM_WERROR=ON (set by .ci/run) or any CI makes every compiler warning
# fail the build.
werror="${STARSCAM_WERROR:-OFF}"
if [ -n "${CI:-}" ]; then
    werror=ON
fi
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTARSCAM_WERROR="$werror" >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j2 --timeout 300
