#!/usr/bin/env bash
# Runs one Windows program under the rig with the prefix at the given DPI.
set -euo pipefail
rig=$1 dpi=$2
shift 2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
current=$(cat "$rig/dpi" 2>/dev/null || true)
if [[ "$current" != "$dpi" ]]; then
    "$here/wine-rig.sh" dpi "$rig" "$dpi"
    echo "$dpi" >"$rig/dpi"
fi
exec "$here/wine-rig.sh" run "$rig" wine "$@"
