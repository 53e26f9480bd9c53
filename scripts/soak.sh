#!/usr/bin/env bash
# make soak: a long random session (default 600 s) of the driver against the
# display simulator; prints its figures and fails if a key was lost or
# handles or memory grew.
set -u
cd "$(dirname "$0")/.."
trap 'scripts/test-env.sh stop build' EXIT
scripts/test-env.sh start build || exit 1
export WINEPREFIX=$PWD/build/wineprefix VKTEST_PORTS_DIR=$PWD/build/ports  # the cable pulls go through the port manager
cmake/wine-run.sh build/x86_64/bin/soak_driver.exe "${SOAK_SECONDS:-600}"
