#!/usr/bin/env bash
# Runs one Windows program under the rig with the prefix at the given DPI
# and colour scheme (TARNWICK_SCHEME: normal, the default, or dark), with
# Wine's 64-bit loader, or with the loader TARNWICK_WINE names
# (/usr/lib/wine/wine for 32-bit programs).
set -euo pipefail
rig=$1 dpi=$2
shift 2
scheme=${TARNWICK_SCHEME:-normal}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [[ "$(cat "$rig/scheme" 2>/dev/null || true)" != "$scheme" ]]; then
    "$here/wine-rig.sh" scheme "$rig" "$scheme"
    echo "$scheme" >"$rig/scheme"
fi
if [[ "$(cat "$rig/dpi" 2>/dev/null || true)" != "$dpi" ]]; then
    "$here/wine-rig.sh" dpi "$rig" "$dpi"
    echo "$dpi" >"$rig/dpi"
fi
export WINELOADER=${TARNWICK_WINE:-/usr/lib/wine/wine64}
exec "$here/wine-rig.sh" run "$rig" "$WINELOADER" "$@"
