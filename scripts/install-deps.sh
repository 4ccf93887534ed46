#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages only.
set -euo pipefail
packages=(
    cmake g++ make libgtest-dev libjpeg-dev
    g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
    binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
    wine wine64 xvfb x11-utils imagemagick
)
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
SUDO=""
[[ $(id -u) -eq 0 ]] || SUDO=sudo

missing=()
for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "install-deps: installing ${missing[*]}"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The 32-bit image runs under Wine only with wine32 from Debian's i386
# architecture. It is tried once on a machine: where the mirror cannot give
# it, the i386 architecture is taken away again, so that apt is left as it
# was, and the image is built and checked but not run.
stamp=/var/tmp/tarnwick-wine32-tried
if ! installed wine32:i386 && [[ ! -e $stamp ]]; then
    $SUDO touch "$stamp"
    echo "install-deps: trying wine32:i386, to run the 32-bit image too"
    added=no
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $SUDO dpkg --add-architecture i386
        added=yes
    fi
    if timeout 300 $SUDO apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive timeout 900 $SUDO apt-get install -y -qq \
            --no-install-recommends wine32:i386; then
        echo "install-deps: wine32:i386 installed"
    else
        echo "install-deps: wine32:i386 could not be installed from this mirror"
        if [[ $added == yes ]]; then
            $SUDO dpkg --remove-architecture i386 || true
            $SUDO apt-get update -qq || true
        fi
    fi
fi
