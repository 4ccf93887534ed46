#!/usr/bin/env bash
# Builds everything (host and Windows) and runs every test: the unit tests,
# the artwork checks, the release checks, and the Windows tests under Wine
# on a private Xvfb. TARNWICK_X86_RUN=auto (the default) also runs the
# 32-bit image where this machine can (install-deps.sh installs Wine's
# 32-bit loader where i386 code runs); TARNWICK_X86_RUN=no does not.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TARNWICK_BUILD:-$top/build/host}
x86_run=${TARNWICK_X86_RUN:-auto}
TARNWICK_X86_RUN=$x86_run "$top/scripts/install-deps.sh"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTARNWICK_X86_RUN="$x86_run"
cmake --build "$build" -j"$(nproc)"
not_run=$(sed -n 's/^TARNWICK_X86_NOT_RUN:INTERNAL=//p' "$build/CMakeCache.txt")
if [[ -n $not_run ]]; then
    echo "test: the 32-bit tarnwick.exe is built and its image checked (test image.x86), but not run: $not_run"
fi
ctest --test-dir "$build" --output-on-failure "$@"
