#!/usr/bin/env bash
# Builds everything (host and Windows) and runs every test: the unit tests,
# the artwork checks, and the Windows tests under Wine on a private Xvfb.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TARNWICK_BUILD:-$top/build/host}
"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure "$@"
