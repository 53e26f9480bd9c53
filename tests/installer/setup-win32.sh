#!/usr/bin/env bash
# The setup package on 32-bit Windows, in a 32-bit-only Wine prefix of the
# build's own (WINEARCH=win32), made once and kept:
#
#   setup-win32.sh prepare PREFIX            create the prefix (idempotent)
#   setup-win32.sh test PREFIX SETUP_EXE     Setup.exe /S must install nothing,
#                                            fail with 3 and say why in its log
#
# The screen reader's folder is recorded, so only the 64-bit check stops it.
set -u
# Where 32-bit programs cannot run the prefix is neither made nor used.
. "$(dirname "$0")/../../scripts/machine.sh"
vk_skip_32bit "the setup package on 32-bit Windows"
export WINEPREFIX=$2 WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

prepare() {
    [ -f "$WINEPREFIX/.vk-ready" ] && return 0
    rm -rf "$WINEPREFIX"
    echo "Creating the 32-bit Wine prefix $WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    wine reg add 'HKLM\Software\Freedom Scientific\ThirdPartyBraille\1.0' /v Target /d 'C:\jaws-drivers' /f >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.vk-ready"
}

fail() { echo "FAIL: $*"; status=1; }

run_test() {
    local setup=$1 status=0
    prepare || return 1
    trap 'wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1' EXIT
    local drivers=$WINEPREFIX/drive_c/jaws-drivers
    rm -rf "$drivers" && mkdir -p "$drivers"
    # Each silent run logs into a new folder of its own in the temporary folder.
    find "$WINEPREFIX/drive_c/users" -depth -name 'Cellivanta VK setup*' -exec rm -rf {} + 2>/dev/null
    wine "$setup" /S >/dev/null 2>&1
    local code=$?
    [ "$code" = 3 ] || fail "Setup.exe /S exited with $code, expected 3"
    [ -z "$(ls -A "$drivers")" ] || fail "installed into the screen reader's folder: $(ls "$drivers")"
    local log
    log=$(find "$WINEPREFIX/drive_c/users" -name 'Cellivanta VK setup.log' -print -quit 2>/dev/null)
    if [ -z "$log" ]; then
        fail "no setup log"
    else
        grep -q "needs 64-bit Windows" "$log" || fail "the log does not say why: $(cat "$log")"
    fi
    [ $status = 0 ] && echo "Setup.exe on 32-bit Windows: exit code 3, nothing installed, log: $(tr -d '\r' <"$log" | head -1)"
    return $status
}

case "${1:-}" in
    prepare) prepare ;;
    test) run_test "$3" ;;
    *) echo "usage: $0 prepare|test PREFIX [SETUP_EXE]" >&2; exit 2 ;;
esac
