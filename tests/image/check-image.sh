#!/usr/bin/env bash
# Checks a built tarnwick.exe without running it: the image's format and
# machine, a GUI program, DEP and ASLR on (with the relocations ASLR needs),
# the address space it may use, its manifest, that it imports nothing but
# Windows' Known DLLs, so nothing is looked for beside it at start, and that
# the 64-bit one stays within its 256 KiB. The same program as shipped,
# signed, when given: the same checks, and a signature, not counted in the size.
#
#   check-image.sh IMAGE x86|x64 [SIGNED-IMAGE]
set -euo pipefail
image=${1:?image}
arch=${2:?x86 or x64}
if [[ -n ${3:-} ]]; then
    status=0
    "$0" "$image" "$arch" || status=1
    CHECK_SIGNED=yes "$0" "$3" "$arch" || status=1
    exit $status
fi
case "$arch" in
x86) objdump=i686-w64-mingw32-objdump format=pei-i386 magic="010b" wide=LARGE_ADDRESS_AWARE ;;
x64) objdump=x86_64-w64-mingw32-objdump format=pei-x86-64 magic="020b" wide=HIGH_ENTROPY_VA ;;
*) echo "check-image: unknown architecture $arch" >&2; exit 2 ;;
esac
headers=$("$objdump" -p "$image" 2>&1) || { echo "FAILED: not a $format image: $headers"; exit 1; }
failed=0
expect() {  # what, then a pattern the headers must hold
    if grep -Eq -- "$2" <<<"$headers"; then
        echo "ok: $1"
    else
        echo "FAILED: $1 (no match for '$2')"
        failed=1
    fi
}
expect "format $format" "file format $format\$"
expect "optional header magic $magic (PE32 for x86, PE32+ for x64)" "^Magic[[:space:]]+$magic[[:space:]]"
expect "GUI subsystem" "^Subsystem[[:space:]]+00000002"
expect "ASLR (dynamic base)" "^[[:space:]]+DYNAMIC_BASE\$"
expect "DEP (NX compatible)" "^[[:space:]]+NX_COMPAT\$"
expect "terminal-server aware" "^[[:space:]]+TERMINAL_SERVICE_AWARE\$"
if [[ $arch == x86 ]]; then
    expect "large address aware" "^[[:space:]]+large address aware\$"
else
    expect "high-entropy ASLR" "^[[:space:]]+HIGH_ENTROPY_VA\$"
fi
expect "relocations kept, so ASLR can move it" "^Entry 5 [0-9a-f]+ [0-9a-f]*[1-9a-f][0-9a-f]* Base Relocation Directory"
[[ -n ${CHECK_SIGNED:-} ]] && expect "a signature" "^Entry 4 [0-9a-f]*[1-9a-f][0-9a-f]* [0-9a-f]*[1-9a-f][0-9a-f]* Security Directory" ||
    expect "no signature" "^Entry 4 0+ 0+ Security Directory"
if grep -aq 'requireAdministrator' "$image" && grep -aq 'Microsoft.Windows.Common-Controls' "$image"; then
    echo "ok: manifest with administrator rights and version 6 common controls"
else
    echo "FAILED: the manifest is missing"; failed=1
fi
imports=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$headers" | sort -u | paste -sd' ')
unknown=$(tr ' ' '\n' <<<"$imports" | grep -Evx 'advapi32\.dll|gdi32\.dll|kernel32\.dll|msvcrt\.dll|user32\.dll' || true)
if [[ -n "$imports" && -z "$unknown" ]]; then
    echo "ok: imports only Known DLLs: $imports"
else
    echo "FAILED: imports other than Known DLLs: ${unknown:-none at all}"; failed=1
fi
if [[ $arch == x64 ]]; then
    # A signature is the signer's, at the end: the program is what comes before.
    size=$(($(stat -c %s "$image") - 0x$(awk '/^Entry 4 / {print $4}' <<<"$headers")))
    if (( size <= 262144 )); then
        echo "ok: $size bytes, within 256 KiB"
    else
        echo "FAILED: $size bytes, over 256 KiB (262,144 bytes)"; failed=1
    fi
fi
exit $failed
