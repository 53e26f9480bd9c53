#!/usr/bin/env bash
# The driver end to end. The screen-reader stand-in (vkhost) loads VK.JLB
# under the build's Wine prefix and opens the display on "usb"; the registry
# says the display's USB port is COM11, whose other end (COM21) is played by
# the display emulator running a key script.
set -u
cd "$(dirname "$0")/.."
. scripts/machine.sh
vk_use_wine
export WINEPREFIX=$PWD/build/wineprefix VKTEST_PORTS_DIR=$PWD/build/ports  # the emulator pulls its cable through the port manager
bin=build/x86_64/bin
usb_device='HKLM\SYSTEM\CurrentControlSet\Enum\USB\Vid_1c71&Pid_c005'
emulator= registered= emulator_out=$(mktemp)
run() { cmake/wine-run.sh "$@"; }

# Also on Ctrl-C: the prefix keeps no trace of the demo's display.
cleanup() {
    [ -n "$emulator" ] && kill "$emulator" 2>/dev/null
    if [ -n "$registered" ] && ! wine reg delete "$usb_device" /f /reg:64 >/dev/null 2>&1; then
        echo "demo: could not remove $usb_device from $WINEPREFIX" >&2
    fi
    scripts/test-env.sh stop build
    rm -f "$emulator_out"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

scripts/test-env.sh start build || exit 1

echo "== 1. The screen reader loads VK.JLB and asks about the driver =="
run $bin/vkhost.exe info

echo
echo "== 2. The display's USB port is registered as COM11; the emulator plays the display on COM21 =="
registered=1
wine reg add "$usb_device\\DEMO0001\\Device Parameters" /v PortName /d COM11 /f /reg:64 >/dev/null 2>&1 ||
    { echo "demo: could not register the display's USB port" >&2; exit 1; }
run $bin/vkemulator.exe --pair 1 --cells 40 --script tools/emulator/demo.keys > >(tee "$emulator_out") &
emulator=$!
# The emulator introduces itself once its port is open.
deadline=$((SECONDS + 60))
until grep -q '^display | ' "$emulator_out"; do
    kill -0 "$emulator" 2>/dev/null || { echo "demo: the display emulator ended before opening COM21" >&2; exit 1; }
    [ $SECONDS -lt $deadline ] || { echo "demo: the display emulator did not open COM21 within a minute" >&2; exit 1; }
    sleep 0.05
done

echo
echo "== 3. The screen reader opens \"usb\", shows text, reads keys, sleeps, wakes; the cable is pulled and plugged back; it closes =="
status=0
run $bin/vkhost.exe open usb \
    show "Hello from the screen reader" wait 7000 \
    say "-- the screen reader puts the display to sleep" sleep wait 500 \
    say "-- and wakes it" wake wait 1000 \
    show "The line before the cable is pulled" \
    say "-- the screen reader makes no call now; the display comes back by itself" wait 9000 \
    clear wait 300 close || status=1
wait $emulator || status=1
emulator=
exit $status
