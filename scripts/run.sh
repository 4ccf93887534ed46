#!/usr/bin/env bash
# Builds tarnwick.exe and starts it under Wine. With no display, it starts
# an Xvfb display of its own, shows the window there and saves a screenshot.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TARNWICK_BUILD:-$top/build/host}
# Only the 64-bit program is run here: no 32-bit loader is installed for it.
TARNWICK_X86_RUN=no "$top/scripts/install-deps.sh"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target windows_build
exe=$build/windows/tarnwick.exe

if [[ -n "${DISPLAY:-}" ]]; then
    export WINEPREFIX=${WINEPREFIX:-$build/run-prefix}
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINELOADER=/usr/lib/wine/wine64
    exec "$WINELOADER" "$exe"
fi

rig=$build/run-rig
"$top/tests/rig/wine-rig.sh" start "$rig" >/dev/null
trap '"$top/tests/rig/wine-rig.sh" stop "$rig"' EXIT
"$top/tests/rig/wine-rig.sh" run "$rig" /usr/lib/wine/wine64 "$build/windows/tarnwick_show.exe" "$rig/tarnwick.png"
echo "screenshot: $rig/tarnwick.png"
