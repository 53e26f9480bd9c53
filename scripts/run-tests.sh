#!/usr/bin/env bash
# Runs the tests of each build tree, one at a time, under the build's Wine
# prefix. Whatever happens, no wineserver or socat is left running afterwards.
set -u
cd "$(dirname "$0")/.."
trap 'scripts/test-env.sh stop build' EXIT
scripts/test-env.sh prepare build || exit 1
status=0
for tree in "$@"; do
    echo "== tests of the $tree tree =="
    ctest --preset "$tree" || status=1
done
exit $status
