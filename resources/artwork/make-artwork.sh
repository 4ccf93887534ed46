#!/usr/bin/env bash
# Rebuilds draw_artwork on the host and regenerates the committed icon and logo.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
resources="$(dirname "$here")"
build="$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-artwork.XXXXXX")"
trap 'rm -rf "$build"' EXIT

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target draw_artwork >/dev/null
# Write beside the targets first so a failed run never leaves half a file committed.
"$build/draw_artwork" "$build/tarnwick.ico" "$build/logo.jpg"
mv -f "$build/tarnwick.ico" "$resources/tarnwick.ico"
mv -f "$build/logo.jpg" "$resources/logo.jpg"
echo "wrote $resources/tarnwick.ico ($(wc -c <"$resources/tarnwick.ico") bytes)"
echo "wrote $resources/logo.jpg ($(wc -c <"$resources/logo.jpg") bytes)"
