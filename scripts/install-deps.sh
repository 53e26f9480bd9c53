#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Safe to run again:
# it does nothing when everything is already there. On a machine that cannot
# run 32-bit programs (or with VK_NO_32BIT=1) it leaves out wine32 and the
# i386 architecture: Wine then runs our 64-bit programs through its 64-bit loader.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/machine.sh"

packages=(cmake ninja-build make mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
          wine wine64 nsis socat xvfb googletest imagemagick procps
          zip unzip osslsigncode openssl
          clang-14 libfuzzer-14-dev libclang-rt-14-dev)  # the native fuzz targets
with_i386=no
if vk_can_run_32bit; then
    packages+=(wine32:i386)
    with_i386=yes
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "Installing: ${missing[*]}"
if [ $with_i386 = yes ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
# A mirror in the middle of a sync can fail one index while the rest are
# fresh: say so and try the install, which fails by itself if a package
# really cannot be had.
update_log=$(mktemp)
trap 'rm -f "$update_log" "${prefs:-}"' EXIT
if ! $SUDO apt-get update -qq 2>&1 | tee "$update_log" >&2 || grep -q '^E:' "$update_log"; then
    echo "apt-get update reported errors; installing from the indexes it did fetch" >&2
fi
install() { $SUDO apt-get install -y -qq --no-install-recommends "$@" "${missing[@]}"; }
if install; then exit 0; fi
# The usual cause: the security suite's i386 index failed its check, so the
# amd64 libraries installed from that suite have no i386 twins at their
# version. Taking both architectures from the main suite for this one command
# resolves it; nothing is left in /etc.
if [ $with_i386 = yes ] && grep -q 'binary-i386' "$update_log"; then
    prefs=$(mktemp)
    printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: 100\n' >"$prefs"
    echo "install-deps: the i386 index of the security suite failed; installing from the main suite for both architectures" >&2
    install -o Dir::Etc::Preferences="$prefs"
else
    exit 1
fi
