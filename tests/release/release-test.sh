#!/usr/bin/env bash
# release-test.sh reproducible|signed BUILD: what scripts/release.sh ships, built again in BUILD/release
# (the program only), the same bytes as the host build's; then signed with a throwaway key, checked
# as a user checks a download, and the signed exe run under Wine.
set -uo pipefail
mode=${1:?reproducible or signed} build=$(cd "${2:?build folder}" && pwd)
top=$(cd "$(dirname "$0")/../.." && pwd) rel=$build/release failed=0
check() { if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; failed=1; fi; }
dump() { mkdir -p "$2" && (cd "$2" && msidump -s -t "$1" >/dev/null); }  # a package's tables and streams
version=$(sed -n 's/^project(Tarnwick VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
shipped=(x64/tarnwick.exe x86/tarnwick.exe "tarnwick-$version-x64.msi" "tarnwick-$version-x86.msi")
built=(windows/tarnwick.exe windows-x86/tarnwick.exe windows/tarnwick.msi windows-x86/tarnwick.msi)
release() { "$top/scripts/release.sh" --build "$rel/build" "$@"; }
if [[ $mode == reproducible ]]; then
    rm -rf "$rel" && mkdir -p "$rel" && git clone -q "$top" "$rel/clone" && touch "$rel/clone/new-file" &&
        cp "$top/scripts/release.sh" "$rel/clone/scripts/"
    refused=$("$rel/clone/scripts/release.sh" --out "$rel/refused" 2>&1) code=$?
    check "a tree with uncommitted changes is refused, named" '((code == 2)) && [[ $refused == *"?? new-file"* && ! -e $rel/refused ]]'
    release --allow-changes --out "$rel/unsigned" || exit 1
    for i in 0 1 2 3; do
        a=$(sha256sum <"$rel/unsigned/${shipped[i]}") b=$(sha256sum <"$build/${built[i]}")
        check "${shipped[i]} ${a%% *}, built again; ${b%% *} in ${built[i]}" '[[ $a == "$b" ]]'
    done
    exit $failed
fi

keys=$rel/keys s=$rel/signed work=$rel/check
rm -rf "$keys" "$work" && mkdir -p "$keys" "$work" && cd "$keys" || exit 1
openssl req -x509 -newkey rsa:2048 -nodes -keyout root.key -out root.pem -days 30 -subj "/CN=Throwaway Root" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign 2>/dev/null &&
    openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr -subj "/CN=Throwaway Signer" 2>/dev/null &&
    openssl x509 -req -in signer.csr -CA root.pem -CAkey root.key -CAcreateserial -days 30 -out signer.pem \
        -extfile <(printf 'keyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n') 2>/dev/null &&
    printf 'throwaway password\n' >password &&
    openssl pkcs12 -export -in signer.pem -inkey signer.key -certfile root.pem -passout file:password -out signer.pfx || exit 1
release --allow-changes --out "$s" --pfx signer.pfx --password-file password || exit 1
check "SHA256SUMS" '(cd "$s" && sha256sum --quiet -c SHA256SUMS)'
for i in 0 1 2 3; do
    f=${shipped[i]} arch=x64 unsigned=$rel/unsigned/${shipped[i]}
    [[ $f != *x86* ]] || arch=x86
    exe=$s/$arch/tarnwick.exe
    check "$f: verified against the throwaway root" 'osslsigncode verify -CAfile root.pem -in "$s/$f" >/dev/null'
    if [[ $f == *.msi ]]; then  # unsigned, as built from the signed exe; the exe's two copies in it
        unsigned=$work/$i.unsigned && "$top/installer/build-msi.sh" "$version" "$arch" "$exe" "$unsigned"
        msiextract -C "$work/$i.files" "$s/$f" >/dev/null && dump "$s/$f" "$work/$i.signed.dump"
        check "$f: the exe it installs and the one its actions run are the signed exe" \
            'cmp "$(find "$work/$i.files" -name tarnwick.exe)" "$exe" && cmp "$work/$i.signed.dump/Binary/Binary.TarnwickExe" "$exe"'
    fi
    osslsigncode extract-signature -in "$s/$f" -out "$work/$i.sig" >/dev/null &&
        osslsigncode attach-signature -sigin "$work/$i.sig" -CAfile root.pem -in "$unsigned" -out "$work/$i.attached" >/dev/null
    check "$f: its signature attached to the unsigned build gives it byte for byte" 'cmp "$work/$i.attached" "$s/$f"'
    osslsigncode remove-signature -in "$s/$f" -out "$work/$i.removed" >/dev/null
    if [[ $f == *.exe ]]; then
        check "$f: without its signature, the unsigned build byte for byte" 'cmp "$work/$i.removed" "$unsigned"'
    else  # removing rewrites the compound file: its tables, streams and summary information
        dump "$work/$i.removed" "$work/$i.removed.dump" && dump "$unsigned" "$work/$i.unsigned.dump"
        check "$f: without its signature, the unsigned package's tables, streams and summary" \
            '[[ -s $work/$i.unsigned.dump/_SummaryInformation.idt ]] && diff -r "$work/$i.removed.dump" "$work/$i.unsigned.dump"'
    fi
done
TARNWICK_EXPECT_DPI=96 TARNWICK_EXE="Z:${s//\//\\}\\x64\\tarnwick.exe" "$top/tests/rig/run-at-dpi.sh" "$build/rig" 96 \
    "$build/windows/tarnwick_e2e.exe" --gtest_filter='Switched/Switched.*/Patch:Switched/Switched.*/Undo' >"$work/e2e.log" 2>&1
check "the signed exe's /patch and /undo under Wine" 'grep -q "\[  PASSED  \] 2 tests" "$work/e2e.log" || ! cat "$work/e2e.log"'
exit $failed
