#!/usr/bin/env bash
# Runs a Windows program of the build under the build's own Wine prefix.
# WINEPREFIX comes from the caller (CTest sets it); otherwise build/wineprefix.
# A 32-bit program on a machine that cannot run one is not run: it says so and
# exits with 77, which CTest counts as skipped.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$here/scripts/machine.sh"
vk_use_wine
export WINEPREFIX=${WINEPREFIX:-$here/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
prog=$1; shift
case "$prog" in
    *.exe|*.EXE) ;;
    *) [ -f "$prog.exe" ] && prog="$prog.exe" ;;
esac

# The machine field of the PE header: 014c for an i386 program.
pe_machine() {
    local at
    at=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null) && [ -n "$at" ] &&
        od -An -tx2 -j$((at + 4)) -N2 "$1" 2>/dev/null | tr -d ' '
}
[ "$(pe_machine "$prog")" = 014c ] && vk_skip_32bit "$(basename "$prog")"

# Wine prints CRLF; hand plain lines back to CTest and the terminal.
wine "$prog" "$@" 2>&1 | sed -u 's/\r$//'
exit "${PIPESTATUS[0]}"
