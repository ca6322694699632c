#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12; quick when all is there.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  APT_UPDATE=1
fi

for p in cmake ninja-build make g++ googletest libgtest-dev libbenchmark-dev \
         g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev \
         wine wine32:i386 xvfb xauth x11-apps xdotool imagemagick clang-format clang libclang-rt-14-dev python3 wixl msitools; do
  have_pkg "$p" || need+=("$p")
done

if [ ${#need[@]} -gt 0 ]; then
  echo "bootstrap: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
