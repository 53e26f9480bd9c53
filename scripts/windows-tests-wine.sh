#!/usr/bin/env bash
# Runs the test bundle (make windows-tests) under Wine as a Windows machine
# would run it: a fresh prefix of its own with nothing of the build in it,
# the bundle unpacked to C:\vktests and started with
# `wine cmd /c C:\vktests\run-tests.cmd`, no VKTEST_* variable set. The only
# thing given from Linux is what a null-modem driver would give: four
# pseudo-terminal pairs declared as the prefix's COM ports (COM1n-COM2n, or
# COM<a>n-COM<b>n with --ports a,b: the tests take the names given).
#
#   windows-tests-wine.sh [--no-pairs | --ports A,B] [run-tests.cmd options...]
#
# With --no-pairs no pairs are made or named. The report is copied to
# build/windows-tests/test-report.txt; the exit code is run-tests.cmd's.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/machine.sh
vk_use_wine
pairs=yes drv=1 sim=2
case "${1:-}" in
    --no-pairs) pairs=no; shift ;;
    --ports) drv=${2%,*} sim=${2#*,}; shift 2 ;;
esac
zip=$(ls dist/CellivantaVK-tests-*.zip 2>/dev/null | tail -n 1)
[ -n "$zip" ] || { echo "windows-tests-wine: no dist/CellivantaVK-tests-*.zip (make windows-tests)" >&2; exit 1; }
work=$(mkdir -p build/windows-tests && cd build/windows-tests && pwd)
ports=$work/ports
for v in $(env | sed -n 's/^\(VKTEST_[A-Za-z0-9_]*\)=.*/\1/p'); do unset "$v"; done
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
socats=()
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    for pid in "${socats[@]}"; do kill "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

rm -rf "$WINEPREFIX" "$ports"
mkdir -p "$ports"
echo "Creating the Wine prefix $WINEPREFIX"
wineboot -i >"$work/prefix.log" 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >>"$work/prefix.log" 2>&1
option=()
if [ $pairs = yes ]; then
    list=
    for i in 1 2 3 4; do
        socat "pty,raw,echo=0,link=$ports/drv$i" "pty,raw,echo=0,link=$ports/sim$i" </dev/null &
        socats+=($!)
        wine reg add 'HKLM\Software\Wine\Ports' /v "COM$drv$i" /d "$ports/drv$i" /f >>"$work/prefix.log" 2>&1
        wine reg add 'HKLM\Software\Wine\Ports' /v "COM$sim$i" /d "$ports/sim$i" /f >>"$work/prefix.log" 2>&1
        list+=${list:+,}COM$drv$i:COM$sim$i
    done
    option=(--pairs "$list")
fi
wineserver -w
mkdir -p "$WINEPREFIX/drive_c/vktests"
unzip -q "$zip" -d "$WINEPREFIX/drive_c/vktests"
echo "Running C:\\vktests\\run-tests.cmd ${option[*]} $*"
set +e
wine cmd /c 'C:\vktests\run-tests.cmd' "${option[@]}" "$@" </dev/null 2>&1 | sed -u 's/\r$//'
status=${PIPESTATUS[0]}
set -e
cp "$WINEPREFIX/drive_c/vktests/test-report.txt" "$work/test-report.txt" 2>/dev/null || true
exit "$status"
