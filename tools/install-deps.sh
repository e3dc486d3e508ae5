#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when they are missing.
# Usage: tools/install-deps.sh [test|demo|bench|fuzz]
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake g++ make pkg-config ccache zlib1g-dev libssl-dev libgcrypt20-dev openssl googletest libgtk-3-dev python3 zip
          unzip curl)
# Both Windows builds and Wine's 64-bit side; Wine's 32-bit side (below) only where 32-bit programs run.
windows=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev libgcrypt-mingw-w64-dev wine wine64 xvfb xdotool)
if [ "${1:-test}" = test ]; then
  packages+=("${windows[@]}" 7zip libarchive-tools imagemagick fonts-wqy-zenhei locales tinyproxy microsocks lighttpd)
elif [ "${1:-test}" = bench ]; then
  packages+=("${windows[@]}" wget 7zip libarchive-tools time lighttpd)
elif [ "${1:-test}" = fuzz ]; then
  packages+=(clang)
fi

missing() {
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || echo "$package"
  done
}

sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
updated=false
# A mirror in the middle of a sync fails some of its indexes for a while: ask again after a pause, and go on
# with the indexes that did arrive (apt installs what they can satisfy and names what they cannot).
update_indexes() {
  $updated && return
  updated=true
  for attempt in 1 2 3; do
    $sudo apt-get update -qq && return
    [ $attempt -lt 3 ] && { echo "Some package indexes could not be read; trying again in 10 seconds."; sleep 10; }
  done
  echo "Some package indexes could not be read; installing from those that could."
}
install() {
  echo "Installing: $*"
  update_indexes
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@"
}

mapfile -t needed < <(missing "${packages[@]}")
if [ ${#needed[@]} -gt 0 ] && ! install "${needed[@]}"; then
  mapfile -t still < <(missing "${needed[@]}")
  echo "install-deps: could not install ${still[*]:-some packages} (apt's reason above)." >&2
  exit 1
fi

# Wine's 32-bit loader, for the Windows tests of the 32-bit program. A machine that cannot execute 32-bit
# programs never asks for the i386 architecture, and one whose i386 packages cannot be had tests the 64-bit
# build instead (tools/test-windows.sh): neither stops the installation.
case "${1:-test}" in test|bench) ;; *) exit 0 ;; esac
[ -z "$(missing wine32:i386)" ] && exit 0
if ! ./runs-32bit.sh; then
  echo "This machine cannot execute 32-bit programs: Wine's 32-bit side is not installed."
  exit 0
fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
  updated=false
fi
install wine32:i386 || echo "Wine's 32-bit side could not be installed: the Windows tests run the 64-bit build."
