#!/usr/bin/env bash
# Builds what is shipped, from the committed tree, into dist/:
#
#   x64/tarnwick.exe           for x64 Windows
#   x86/tarnwick.exe           for 32-bit Windows and Windows on ARM
#   tarnwick-VERSION-x64.msi   the Windows Installer package of each
#   tarnwick-VERSION-x86.msi
#   SHA256SUMS                 their SHA-256, as `sha256sum -c` reads them
#   build-info.txt             the commit, SOURCE_DATE_EPOCH, and the Debian
#                              versions of the tools a rebuild must match
#
# Signed with Authenticode (SHA-256, by osslsigncode) when a key is given:
#
#   release.sh [--pfx FILE | --cert FILE --key FILE | --pkcs11-module MODULE --key URI
#              [--cert FILE | --pkcs11-cert URI] | --sign-command COMMAND]
#              [--password-file FILE] [--timestamp URL] [--out DIR] [--build DIR]
#              [--allow-changes]
#
#   --pfx FILE             certificate chain and key in one PKCS#12 file
#   --cert FILE --key FILE PEM (or DER) certificate chain and private key
#   --pkcs11-module MODULE a key on a token or HSM, through its PKCS#11
#                          library; --key names the key (a pkcs11: URI), and
#                          the certificate is --cert's file or --pkcs11-cert's
#                          object on the token
#   --sign-command COMMAND a signer of your own (a signing service's client),
#                          run as `COMMAND IN OUT` for each file, which must
#                          write OUT as IN signed
#   --password-file FILE   the key's password or the token's PIN, on its first
#                          line. Without it, the password is asked on the
#                          terminal when the key has one. Never give it on the
#                          command line, where other users can read it.
#   --timestamp URL        an RFC 3161 time stamp server. Without one the
#                          signatures stop validating when the certificate
#                          expires, and their signing time is SOURCE_DATE_EPOCH,
#                          so that signing twice gives the same bytes.
#   --out DIR              instead of dist/ (made afresh)
#   --build DIR            build there, reusing what is already built; without
#                          it, build/release is made afresh
#   --allow-changes        build a tree with uncommitted changes (build-info
#                          says so): for trying the script, not for shipping
#
# Each exe is signed first; each package is then built from its signed exe,
# so that both copies of the exe inside it (the file it installs, and the one
# its rollbacks run) are signed, and is signed itself; the sums come last.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=$top/dist build=$top/build/release fresh=yes allow_changes=""
pfx="" cert="" key="" module="" token_cert="" command="" password_file="" timestamp=""
fail() { echo "release: $*" >&2; exit 2; }
while (($#)); do
    case "$1" in
    --pfx | --cert | --key | --pkcs11-module | --pkcs11-cert | --sign-command | --password-file | \
        --timestamp | --out | --build)
        (($# >= 2)) || fail "$1 needs a value"
        case "$1" in
        --pfx) pfx=$2 ;;
        --cert) cert=$2 ;;
        --key) key=$2 ;;
        --pkcs11-module) module=$2 ;;
        --pkcs11-cert) token_cert=$2 ;;
        --sign-command) command=$2 ;;
        --password-file) password_file=$2 ;;
        --timestamp) timestamp=$2 ;;
        --out) out=$(realpath -m "$2") ;;
        --build) build=$(realpath -m "$2") fresh="" ;;
        esac
        shift 2
        ;;
    --allow-changes) allow_changes=yes; shift ;;
    -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) fail "unknown argument $1 (--help lists them)" ;;
    esac
done

# How to sign: osslsigncode's arguments for the key, or the user's command.
signer=()
if [[ -n $pfx ]]; then
    [[ -z $cert$key$module$command ]] || fail "--pfx goes alone, without --cert, --key, --pkcs11-module or --sign-command"
    signer=(-pkcs12 "$pfx")
elif [[ -n $module ]]; then
    [[ -n $key && -z $command ]] || fail "--pkcs11-module needs --key (a pkcs11: URI), and no --sign-command"
    [[ -n $cert || -n $token_cert ]] || fail "--pkcs11-module needs --cert or --pkcs11-cert"
    signer=(-pkcs11module "$module" -key "$key")
    if [[ -n $cert ]]; then signer+=(-certs "$cert"); else signer+=(-pkcs11cert "$token_cert"); fi
elif [[ -n $cert || -n $key ]]; then
    [[ -n $cert && -n $key && -z $command ]] || fail "--cert and --key go together, without --sign-command"
    signer=(-certs "$cert" -key "$key")
elif [[ -z $command ]]; then
    [[ -z $password_file$timestamp$token_cert ]] || fail "--password-file, --timestamp and --pkcs11-cert need a key"
fi
signing=""
if ((${#signer[@]})) || [[ -n $command ]]; then signing=yes; fi
for file in "$pfx" "$cert" "$password_file"; do
    [[ -z $file || -r $file ]] || fail "cannot read $file"
done
[[ -z $key || $key == pkcs11:* || -r $key ]] || fail "cannot read $key"

# A release is built from a commit, so that anyone can build it again.
git -C "$top" rev-parse --verify -q HEAD >/dev/null || fail "$top is not a git checkout with a commit"
commit=$(git -C "$top" rev-parse HEAD)
changes=$(git -C "$top" status --porcelain)
if [[ -n $changes ]]; then
    [[ -n $allow_changes ]] || fail "the tree has uncommitted changes; commit them first:"$'\n'"$changes"
    commit+=" with uncommitted changes"
fi

# The password is read once, here, and handed to each signing through a
# pipe: it never shows in a command line.
password="" password_args=()
needs_password() {
    if [[ -n $pfx ]]; then
        ! openssl pkcs12 -in "$pfx" -noout -passin pass: >/dev/null 2>&1 &&
            ! openssl pkcs12 -legacy -in "$pfx" -noout -passin pass: >/dev/null 2>&1
    elif [[ -n $module ]]; then
        true
    else
        ! openssl pkey -in "$key" -noout -passin pass: >/dev/null 2>&1
    fi
}
if ((${#signer[@]})); then
    if [[ -n $password_file ]]; then
        password_args=(-readpass "$password_file")
    elif needs_password; then
        what="password of $pfx$key"
        [[ -n $module ]] && what="PIN of the token (empty for none)"
        { exec 3</dev/tty; } 2>/dev/null || fail "no terminal to ask the $what on: give --password-file"
        IFS= read -rs -u 3 -p "release: the $what: " password
        exec 3<&-
        echo >&2
    fi
fi

sign() {  # FILE: signs it in place
    local file=$1 signed=$1.signed
    if [[ -n $command ]]; then
        bash -c "$command \"\$@\"" signer "$file" "$signed"
    else
        local args=(sign "${signer[@]}" -h sha256 -n Tarnwick -i http://tarn.example/)
        if [[ -n $timestamp ]]; then
            args+=(-ts "$timestamp")
        else
            args+=(-time "$SOURCE_DATE_EPOCH")
        fi
        if ((${#password_args[@]})); then
            osslsigncode "${args[@]}" "${password_args[@]}" -in "$file" -out "$signed" >/dev/null
        elif [[ -n $password ]]; then
            osslsigncode "${args[@]}" -readpass <(printf '%s' "$password") -in "$file" -out "$signed" >/dev/null
        else
            osslsigncode "${args[@]}" -in "$file" -out "$signed" >/dev/null
        fi
    fi
    [[ -s $signed ]] || fail "signing $file wrote nothing"
    mv "$signed" "$file"
}

TARNWICK_X86_RUN=no "$top/scripts/install-deps.sh"
SOURCE_DATE_EPOCH=$("$top/scripts/source-date-epoch.sh")
export SOURCE_DATE_EPOCH
version=$(sed -n 's/^project(Tarnwick VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
[[ -n $version ]] || fail "no version in CMakeLists.txt"

# Only the program itself, in a Windows build of its own for each image.
[[ -z $fresh ]] || rm -rf "$build"
for arch in x64 x86; do
    toolchain=mingw-w64-x86_64.cmake
    [[ $arch == x64 ]] || toolchain=mingw-w64-i686.cmake
    cmake -S "$top" -B "$build/$arch" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DTARNWICK_SOURCE_DATE_EPOCH="$SOURCE_DATE_EPOCH" >/dev/null
    cmake --build "$build/$arch" --target tarnwick -j"$(nproc)" >/dev/null
done

# Made afresh, but never over a folder that is not an earlier release.
if [[ -e $out && -n $(ls -A "$out" 2>/dev/null) && ! -f $out/build-info.txt ]]; then
    fail "$out is not an earlier release folder: give another --out"
fi
rm -rf "$out"
mkdir -p "$out/x64" "$out/x86"
if [[ -n $signing ]]; then
    [[ -n $timestamp || -n $command ]] || echo "release: warning: no --timestamp, so the signatures stop" \
        "validating when the certificate expires; signing time $(date -u -d "@$SOURCE_DATE_EPOCH" '+%F %T') UTC"
else
    echo "release: no key given, so nothing is signed"
fi
for arch in x64 x86; do
    cp "$build/$arch/tarnwick.exe" "$out/$arch/tarnwick.exe"
    [[ -z $signing ]] || sign "$out/$arch/tarnwick.exe"
done
for arch in x64 x86; do
    package=$out/tarnwick-$version-$arch.msi
    "$top/installer/build-msi.sh" "$version" "$arch" "$out/$arch/tarnwick.exe" "$package"
    [[ -z $signing ]] || sign "$package"
done
(cd "$out" && sha256sum x64/tarnwick.exe x86/tarnwick.exe "tarnwick-$version-x64.msi" \
    "tarnwick-$version-x86.msi" >SHA256SUMS)

{
    echo "Tarnwick $version"
    echo "commit $commit"
    echo "SOURCE_DATE_EPOCH $SOURCE_DATE_EPOCH ($(date -u -d "@$SOURCE_DATE_EPOCH" '+%F %T') UTC)"
    echo "signed: ${signing:-no}"
    echo "Built on Debian $(cat /etc/debian_version 2>/dev/null || echo '?') with:"
    dpkg-query -W -f='  ${binary:Package} ${Version}\n' \
        g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-x86-64-dev mingw-w64-i686-dev \
        binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 wixl msitools libmsi0 libgcab-1.0-0 \
        imagemagick libmagickcore-6.q16-6 "libjpeg62-turbo:$(dpkg --print-architecture)" osslsigncode
} >"$out/build-info.txt"
echo "release: $out"
sed 's/^/  /' "$out/SHA256SUMS"
