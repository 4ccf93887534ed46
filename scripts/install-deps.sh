#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages only.
#
# TARNWICK_X86_RUN=auto (the default) also installs Wine's 32-bit loader,
# wine32:i386, so that the 32-bit image is run too; only where this machine
# runs i386 code (probed first), since on a machine that cannot, /usr/bin/wine
# would start a loader that never runs. Where the probe fails, or the i386
# packages cannot be installed beside the amd64 ones, the 32-bit image is
# built and checked but not run. TARNWICK_X86_RUN=no never installs it.
set -euo pipefail
packages=(
    cmake g++ make binutils libgtest-dev libjpeg-dev
    g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
    binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
    wine wine64 xvfb x11-utils imagemagick
    wixl msitools gir1.2-libmsi-1.0 python3-gi
    osslsigncode openssl git libengine-pkcs11-openssl
)
x86_run=${TARNWICK_X86_RUN:-auto}
case "$x86_run" in
auto | no) ;;
*) echo "install-deps: TARNWICK_X86_RUN is auto or no, not '$x86_run'" >&2; exit 2 ;;
esac
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
SUDO=""
[[ $(id -u) -eq 0 ]] || SUDO=sudo
apt_install() { DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "$@"; }

missing=()
for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "install-deps: installing ${missing[*]}"
    $SUDO apt-get update -qq
    apt_install "${missing[@]}"
fi

[[ $x86_run == auto ]] || exit 0
installed wine32:i386 && installed wine64 && exit 0

# A three-instruction i386 program (exit 0): it runs only where the kernel
# runs 32-bit code; elsewhere "Exec format error".
runs_i386() {
    local dir ok=1
    dir=$(mktemp -d)
    printf '.globl _start\n_start:\n movl $1, %%eax\n xorl %%ebx, %%ebx\n int $0x80\n' >"$dir/probe.s"
    if as --32 -o "$dir/probe.o" "$dir/probe.s" && ld -m elf_i386 -o "$dir/probe" "$dir/probe.o" &&
        "$dir/probe" 2>/dev/null; then
        ok=0
    fi
    rm -rf "$dir"
    return $ok
}
if ! runs_i386; then
    echo "install-deps: this machine runs no i386 code, so wine32 is not installed"
    exit 0
fi

# Named together: wine32 alone would remove wine64.
added=""
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    added=yes
fi
echo "install-deps: installing wine32:i386 beside wine64"
if $SUDO apt-get update -qq && apt_install wine32:i386 wine64; then
    exit 0
fi
# Most often the amd64 and i386 builds of a library are out of step in the
# mirror for a while. Take back what this script added, and go on without.
echo "install-deps: wine32:i386 could not be installed beside wine64 (see apt's message above)," \
    "so the 32-bit image will not be run"
if [[ -n $added ]] && ! dpkg-query -W -f='${Package}\n' '*:i386' 2>/dev/null | grep -q .; then
    $SUDO dpkg --remove-architecture i386 && $SUDO apt-get update -qq || true
fi
exit 0
