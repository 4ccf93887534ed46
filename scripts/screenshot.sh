#!/usr/bin/env bash
# Makes the README's picture of the window again: the screenshot that the
# run command saves when there is no display, copied to docs/.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TARNWICK_BUILD:-$top/build/host}
env -u DISPLAY TARNWICK_BUILD="$build" "$top/scripts/run.sh"
mkdir -p "$top/docs"
cp "$build/run-rig/tarnwick.png" "$top/docs/tarnwick.png"
echo "picture: docs/tarnwick.png"
