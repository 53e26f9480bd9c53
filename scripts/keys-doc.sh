#!/usr/bin/env bash
# Writes the key reference of a key map (vkkeys list --markdown) to a file,
# running vkkeys under the build's Wine prefix; with fr, as a French user
# (Wine takes the user's language from the Unix locale's name: a copy of
# C.utf8 named fr_FR.UTF-8 will do).
#
#   keys-doc.sh BUILD VKKEYS_EXE KEYMAP OUT [fr]
set -euo pipefail
. "$(dirname "$0")/machine.sh"
vk_use_wine
build=$1 vkkeys=$2 keymap=$3 out=$4 language=${5:-}
"$(dirname "$0")/test-env.sh" prepare "$build" >/dev/null
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$out")"
if [ "$language" = fr ]; then
    [ -d "$build/locale/fr_FR.UTF-8" ] || { mkdir -p "$build/locale" && cp -r /usr/lib/locale/C.utf8 "$build/locale/fr_FR.UTF-8"; }
    export LOCPATH=$build/locale LC_ALL=fr_FR.UTF-8
fi
# Wine maps the host's root to drive Z:.
wine "$vkkeys" list --markdown "Z:$keymap" 2>/dev/null | sed 's/\r$//' >"$out.tmp"
mv "$out.tmp" "$out"
