#!/usr/bin/env bash
# Starts the test environment and the display emulator in this terminal.
# In another terminal, with the same WINEPREFIX:
#   WINEPREFIX=$PWD/build/wineprefix cmake/wine-run.sh build/x86_64/bin/vkhost.exe \
#       open COM11 show "hello" wait 60000 close
set -u
cd "$(dirname "$0")/.."
. scripts/machine.sh
vk_use_wine
trap 'scripts/test-env.sh stop build' EXIT
scripts/test-env.sh start build || exit 1
# VKTEST_PORTS_DIR: the Insert key pulls the cable through the port manager.
export WINEPREFIX=$PWD/build/wineprefix WINEDEBUG=-all VKTEST_PORTS_DIR=$PWD/build/ports
echo "The display is on COM21; the driver's end is COM11 (WINEPREFIX=$WINEPREFIX)."
wine build/x86_64/bin/vkemulator.exe --pair 1 --cells "${CELLS:-40}" "$@"
