#!/usr/bin/env bash
# Runs a Windows program of the build under the build's own Wine prefix.
# WINEPREFIX comes from the caller (CTest sets it); otherwise build/wineprefix.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
prog=$1; shift
case "$prog" in
    *.exe|*.EXE) ;;
    *) [ -f "$prog.exe" ] && prog="$prog.exe" ;;
esac
# Wine prints CRLF; hand plain lines back to CTest and the terminal.
wine "$prog" "$@" 2>&1 | sed -u 's/\r$//'
exit "${PIPESTATUS[0]}"
