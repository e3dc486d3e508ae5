#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when they are missing.
# Usage: tools/install-deps.sh [test|demo|bench|fuzz]
set -euo pipefail

packages=(cmake g++ make pkg-config zlib1g-dev libssl-dev libgcrypt20-dev openssl googletest libgtk-3-dev python3 zip unzip curl)
if [ "${1:-test}" = test ]; then
  packages+=(g++-mingw-w64-i686 libz-mingw-w64-dev libgcrypt-mingw-w64-dev wine wine32:i386 7zip libarchive-tools xvfb xdotool imagemagick fonts-wqy-zenhei locales tinyproxy microsocks lighttpd)
elif [ "${1:-test}" = bench ]; then
  packages+=(wget 7zip libarchive-tools time g++-mingw-w64-i686 libz-mingw-w64-dev libgcrypt-mingw-w64-dev wine wine32:i386
             xvfb xdotool)
elif [ "${1:-test}" = fuzz ]; then
  packages+=(clang)
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
  dpkg --print-foreign-architectures | grep -q i386 || $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
