#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need (as root).
# Quiet and idempotent: a second run installs nothing.
set -euo pipefail
packages=(cmake ninja-build g++ clang clang-format clang-tidy
  libgtest-dev googletest libgmock-dev libbenchmark-dev libarchive-dev libgdbm-dev libsqlite3-dev
  g++-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64-i686
  wine wine32:i386 wine64 fonts-wine xvfb xdotool imagemagick unrar-free gcovr libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then exit 0; fi
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
$SUDO dpkg --add-architecture i386
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
