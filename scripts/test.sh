#!/usr/bin/env bash
# Builds everything (host and Windows) and runs every test: the unit tests,
# the artwork checks, and the Windows tests under Wine on a private Xvfb.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TARNWICK_BUILD:-$top/build/host}
"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" -j"$(nproc)"
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "test: the 32-bit tarnwick.exe is built and its image checked (test image.x86), but not run: Wine's 32-bit loader does not run on this machine"
fi
ctest --test-dir "$build" --output-on-failure "$@"
