#!/usr/bin/env bash
# Installs everything the build, the tests and the image tools need on a
# fresh Debian machine. Safe to run again.
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi

PKGS=(
  build-essential cmake ninja-build pkg-config
  g++-mingw-w64-i686 mingw-w64-i686-dev
  nasm
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  dosfstools mtools
  qemu-system-x86
  xvfb xdotool x11-utils imagemagick
  python3 python3-pefile
  fonts-wqy-microhei locales
  wine wine32:i386 fonts-wine
  # Where the kernel runs no 32-bit programs, the Wine tests run a 64-bit
  # build of the same sources under 64-bit Wine.
  wine64 g++-mingw-w64-x86-64
)

missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Wine needs a locale whose ANSI code page is 936.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN.utf8$'; then
  if [ -f /etc/locale.gen ]; then
    $SUDO sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
  fi
fi
