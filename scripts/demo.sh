#!/usr/bin/env bash
# The driver end to end. The screen-reader stand-in (vkhost) loads VK.JLB
# under the build's Wine prefix and opens the display on "usb"; the registry
# says the display's USB port is COM11, whose other end (COM21) is played by
# the display emulator running a key script.
set -u
cd "$(dirname "$0")/.."
trap 'kill $emulator 2>/dev/null; scripts/test-env.sh stop build' EXIT
scripts/test-env.sh start build || exit 1
export WINEPREFIX=$PWD/build/wineprefix
bin=build/x86_64/bin
run() { cmake/wine-run.sh "$@"; }

echo "== 1. The screen reader loads VK.JLB and asks about the driver =="
run $bin/vkhost.exe info

echo
echo "== 2. The display's USB port is registered as COM11; the emulator plays the display on COM21 =="
wine reg add 'HKLM\SYSTEM\CurrentControlSet\Enum\USB\Vid_1c71&Pid_c005\DEMO0001\Device Parameters' \
    /v PortName /d COM11 /f /reg:64 >/dev/null 2>&1
run $bin/vkemulator.exe --pair 1 --cells 40 --script tools/emulator/demo.keys &
emulator=$!
sleep 1

echo
echo "== 3. The screen reader opens \"usb\", shows text, reads keys, sleeps, wakes, closes =="
run $bin/vkhost.exe open usb \
    show "Hello from the screen reader" wait 7000 \
    say "-- the screen reader puts the display to sleep" sleep wait 500 \
    say "-- and wakes it" wake wait 1000 \
    clear wait 300 close
wait $emulator
wine reg delete 'HKLM\SYSTEM\CurrentControlSet\Enum\USB\Vid_1c71&Pid_c005' /f /reg:64 >/dev/null 2>&1
