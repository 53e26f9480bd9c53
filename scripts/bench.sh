#!/usr/bin/env bash
# Runs every benchmark under bench/ against the emulated display and prints
# one table: figure, value, what it is measured against (in the same run), ratio.
set -u
cd "$(dirname "$0")/.."
trap 'scripts/test-env.sh stop build' EXIT
scripts/test-env.sh start build || exit 1
export WINEPREFIX=$PWD/build/wineprefix VKTEST_SOURCE_DIR=$PWD VKTEST_PORTS_DIR=$PWD/build/ports
out=$(mktemp)
for b in build/x86_64/bin/bench_*.exe; do
    echo "running $(basename "$b") ..." >&2
    cmake/wine-run.sh "$b" "$@" | tee -a "$out" | grep -v '^BENCH|' >&2
done
echo
awk -F'|' '/^BENCH\|/ {
    against = $5 == "" ? "" : sprintf("%s = %s", $5, $6 + 0)
    ratio = $7 + 0 == 0 ? "" : sprintf("%.2f", $7)
    printf "| %-58s | %12s %-8s | %-40s | %6s |\n", $2, sprintf("%.3f", $3), $4, against, ratio
}' "$out" | (printf "| %-58s | %21s | %-40s | %6s |\n" figure value "measured against" ratio;
             printf "|%s|%s|%s|%s|\n" "$(printf -- '-%.0s' {1..60})" "$(printf -- '-%.0s' {1..23})" \
                 "$(printf -- '-%.0s' {1..42})" "$(printf -- '-%.0s' {1..8})"; cat)
rm -f "$out"
