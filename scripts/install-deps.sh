#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages only.
set -euo pipefail
packages=(
    cmake g++ make libgtest-dev libjpeg-dev
    g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
    binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
    wine wine64 xvfb x11-utils imagemagick
    wixl msitools
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
