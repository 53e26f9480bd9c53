#!/usr/bin/env bash
# Runs the tests of each build tree, one at a time, under the build's Wine
# prefix. Whatever happens, no wineserver or socat is left running afterwards.
# Where 32-bit programs cannot run, the 32-bit test programs are built but
# not run (CTest counts them skipped); the run ends by naming them.
set -u
cd "$(dirname "$0")/.."
. scripts/machine.sh
log=$(mktemp)
trap 'scripts/test-env.sh stop build; rm -f "$log"' EXIT
# The environment is ours for the whole run, across the trees: a `make demo`
# or a bare ctest started meanwhile waits until the last tree is done.
scripts/test-env.sh lock build || exit 1
scripts/test-env.sh prepare build || exit 1
status=0
for tree in "$@"; do
    echo "== tests of the $tree tree =="
    ctest --preset "$tree" | tee -a "$log"
    [ "${PIPESTATUS[0]}" = 0 ] || status=1
done
mapfile -t not_run < <(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$log")
if [ ${#not_run[@]} -gt 0 ] && ! vk_can_run_32bit; then
    echo
    echo "== Not run: ${#not_run[@]} test programs, as this machine cannot run 32-bit programs ($(vk_no_32bit_reason)) =="
    printf '    %s\n' "${not_run[@]}"
    echo "They were built; every other test ran."
fi
exit $status
