#!/usr/bin/env bash
# Runs the tests of each build tree, one at a time, under the build's Wine
# prefix. Whatever happens, no wineserver or socat is left running afterwards.
set -u
cd "$(dirname "$0")/.."
trap 'scripts/test-env.sh stop build' EXIT
# The environment is ours for the whole run, across the trees: a `make demo`
# or a bare ctest started meanwhile waits until the last tree is done.
scripts/test-env.sh lock build || exit 1
scripts/test-env.sh prepare build || exit 1
status=0
for tree in "$@"; do
    echo "== tests of the $tree tree =="
    ctest --preset "$tree" || status=1
done
exit $status
