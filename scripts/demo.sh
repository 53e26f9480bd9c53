#!/usr/bin/env bash
# The driver end to end: the screen-reader stand-in loads VK.JLB under the
# build's Wine prefix and shows what the driver answers.
set -u
cd "$(dirname "$0")/.."
trap 'scripts/test-env.sh stop build' EXIT
scripts/test-env.sh start build || exit 1
export WINEPREFIX=$PWD/build/wineprefix
run() { cmake/wine-run.sh "$@"; }
bin=build/x86_64/bin

echo "== The screen reader loads VK.JLB and asks about the driver =="
run $bin/vkhost.exe info
