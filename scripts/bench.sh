#!/usr/bin/env bash
# Benchmarks under the same Wine and Xvfb rig as the tests: start-up (by
# stage) and memory against the one-button baseline window with the
# program's own manifest and without one, size and imports of the release
# exe, and one apply and one undo from click to exit. Where Wine's 32-bit
# loader runs (see TARNWICK_X86_RUN in test.sh), the same for the 32-bit
# image against 32-bit yardsticks, in the same prefix. Optional argument:
# the number of alternating runs (15 at least).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TARNWICK_BUILD:-$top/build/host}
x86_run=${TARNWICK_X86_RUN:-auto}
TARNWICK_X86_RUN=$x86_run "$top/scripts/install-deps.sh"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTARNWICK_X86_RUN="$x86_run" >/dev/null
cmake --build "$build" -j"$(nproc)" --target windows_build windows_build_x86 >/dev/null
win=$build/windows
exe=$win/tarnwick.exe

size=$(stat -c %s "$exe")
echo "size: tarnwick.exe $size bytes ($((size / 1024)) KiB; budget 256 KiB)"
size32=$(stat -c %s "$build/windows-x86/tarnwick.exe")
echo "size: 32-bit tarnwick.exe $size32 bytes ($((size32 / 1024)) KiB)"
echo "imports: $(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name/ {print $3}' | sort -f | paste -sd' ')"

# Under Wine every window call is a round trip between the program,
# wineserver and Xvfb. Spread over the cores of a virtual machine, each trip
# waits for a core to wake: start-up then takes twice as long and scatters
# by tens of ms between two starts of the same program, which drowns what is
# measured. So the rig (Xvfb, wineserver and every program) runs on one core,
# the first this shell may use; TARNWICK_BENCH_CORES=all leaves it to the
# system's scheduler.
on_one_core=()
if [[ ${TARNWICK_BENCH_CORES:-one} != all ]]; then
    core=$(taskset -pc $$ | sed 's/.*: *//; s/[-,].*//')
    on_one_core=(taskset -c "$core")
    echo "rig on core $core (TARNWICK_BENCH_CORES=all: on every core)"
fi
rig=$build/bench-rig
"${on_one_core[@]}" "$top/tests/rig/wine-rig.sh" start "$rig" >/dev/null
trap '"$top/tests/rig/wine-rig.sh" stop "$rig"' EXIT
"${on_one_core[@]}" "$top/tests/rig/wine-rig.sh" run "$rig" /usr/lib/wine/wine64 "$win/tarnwick_bench.exe" "${1:-15}"
not_run=$(sed -n 's/^TARNWICK_X86_NOT_RUN:INTERNAL=//p' "$build/CMakeCache.txt")
if [[ -n $not_run ]]; then
    echo "32-bit image: not run ($not_run)"
else
    echo "32-bit image, against 32-bit yardsticks:"
    "${on_one_core[@]}" "$top/tests/rig/wine-rig.sh" run "$rig" /usr/lib/wine/wine \
        "$build/windows-x86/tarnwick_bench.exe" "${1:-15}"
fi
