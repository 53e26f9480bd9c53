#!/usr/bin/env bash
# Writes the key reference of a key map (vkkeys list --markdown) to a file,
# running vkkeys under the build's Wine prefix.
#
#   keys-doc.sh BUILD VKKEYS_EXE KEYMAP OUT
set -euo pipefail
. "$(dirname "$0")/machine.sh"
vk_use_wine
build=$1 vkkeys=$2 keymap=$3 out=$4
"$(dirname "$0")/test-env.sh" prepare "$build" >/dev/null
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$out")"
# Wine maps the host's root to drive Z:.
wine "$vkkeys" list --markdown "Z:$keymap" 2>/dev/null | sed 's/\r$//' >"$out.tmp"
mv "$out.tmp" "$out"
