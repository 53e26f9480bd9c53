#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Safe to run again:
# it does nothing when everything is already there.
set -euo pipefail

packages=(cmake ninja-build make mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
          wine wine64 wine32:i386 nsis socat xvfb googletest imagemagick procps
          zip unzip osslsigncode openssl)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "Installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
# A mirror in the middle of a sync can fail one index while the rest are
# fresh: say so and try the install, which fails by itself if a package
# really cannot be had.
if ! $SUDO apt-get update -qq; then
    echo "apt-get update reported errors; installing from the indexes it did fetch" >&2
fi
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
