#!/usr/bin/env bash
# Runs each native fuzz target (tests/fuzz) for FUZZ_SECONDS seconds (180 by
# default), one after the other, at low priority. New inputs go to
# build/fuzz/corpus/TARGET, findings to build/fuzz/findings/TARGET, the
# fuzzer's output to build/fuzz/logs/TARGET.log. Exits non-zero when any
# target found something (or did not run). FUZZ_TARGETS names a subset.
set -u
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-180}
targets=${FUZZ_TARGETS:-"display_input key_map port_list"}
out=build/fuzz

cmake --preset fuzz >/dev/null && cmake --build --preset fuzz >/dev/null || exit 1

# Longer inputs add frames, not new paths, and cost time.
options() {
    case $1 in
    display_input) echo -max_len=256 ;;
    key_map) echo -max_len=1024 ;;
    esac
}

status=0
for t in $targets; do
    mkdir -p "$out/corpus/$t" "$out/findings/$t" "$out/logs"
    log=$out/logs/$t.log
    echo "== fuzz_$t for ${seconds} s =="
    # shellcheck disable=SC2046
    nice -n 10 "$out/bin/fuzz_$t" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$out/findings/$t/" $(options "$t") "$out/corpus/$t" "tests/fuzz/corpus/$t" >"$log" 2>&1
    rc=$?
    grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1
    grep -E 'stat::(number_of_executed_units|average_exec_per_sec)' "$log"
    found=$(find "$out/findings/$t" -type f | sort)
    if [ $rc -ne 0 ] || [ -n "$found" ]; then
        status=1
        grep -E '^(oracle:|SUMMARY:)' "$log" | head -5
        echo "fuzz_$t: FINDING (exit $rc); kept: ${found:-none}; output in $log"
    fi
done
exit $status
