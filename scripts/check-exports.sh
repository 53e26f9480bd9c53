#!/usr/bin/env bash
# check-exports.sh [--known-dlls-only] FILE EXPORT...
# Fails unless FILE exports exactly the names given and imports only Windows
# system DLLs (no C++ runtime, no threading library beside it). With
# --known-dlls-only, only the system's known DLLs, which Windows never looks
# for in the program's folder: for programs started from a folder that other
# programs can write to.
set -euo pipefail
known_only=0
if [ "${1:-}" = --known-dlls-only ]; then known_only=1; shift; fi
file=$1; shift
dump=$(x86_64-w64-mingw32-objdump -p "$file")
exports=$(awk '/\[Ordinal\/Name Pointer\] Table/{on=1; next} on && /\[ *[0-9]+\]/{print $NF; next} on{on=0}' <<<"$dump" | sort)
expected=$(printf '%s\n' "$@" | sort)
if [ "$exports" != "$expected" ]; then
    echo "$file: exports are [$(echo $exports)], expected [$(echo $expected)]" >&2
    exit 1
fi
if [ $known_only = 1 ]; then
    allowed='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comdlg32|setupapi|shlwapi|msvcrt|ntdll|ws2_32|imm32|rpcrt4|sechost)\.dll$'
else
    allowed='^(kernel32|user32|advapi32|gdi32|shell32|ole32|oleaut32|comctl32|comdlg32|setupapi|newdev|version|shlwapi|msvcrt|ntdll|ws2_32|api-ms-win-[a-z0-9-]+)\.dll$'
fi
bad=$(grep -i 'DLL Name:' <<<"$dump" | awk '{print tolower($3)}' | grep -Ev "$allowed" || true)
if [ -n "$bad" ]; then
    echo "$file: imports DLLs outside the allowed system ones: $bad" >&2
    exit 1
fi
