#!/usr/bin/env bash
# Writes Setup.exe's exit codes, from their one source docs/setup-exit-codes.tsv,
# as the table between the markers of README.md, docs/user-guide.md (English)
# and docs/guide-fr.md (French). --check changes nothing and fails, naming the
# file, when a table differs from the source.
#
#   exit-codes.sh [--check]
set -euo pipefail
cd "$(dirname "$0")/.."
check=${1:-}
begin='<!-- exit codes: made from docs/setup-exit-codes.tsv by scripts/exit-codes.sh -->'
end='<!-- end of exit codes -->'

table() {  # table COLUMN HEADER
    printf '| Code | %s |\n|---|---|\n' "$2"
    grep -v '^#' docs/setup-exit-codes.tsv | awk -F'\t' -v c="$1" '{ printf "| %s | %s |\n", $1, $c }'
}

status=0
for entry in README.md:2:Meaning docs/user-guide.md:2:Meaning docs/guide-fr.md:3:Signification; do
    IFS=: read -r file column header <<<"$entry"
    grep -qxF "$begin" "$file" || { echo "$file: no line '$begin'" >&2; status=1; continue; }
    made=$(awk -v b="$begin" -v e="$end" -v t="$(table "$column" "$header")" '
        $0 == b { print; print t; skip = 1; next }
        $0 == e { skip = 0 }
        !skip' "$file")
    if [ "$check" = --check ]; then
        [ "$made" = "$(cat "$file")" ] ||
            { echo "$file: the exit codes differ from docs/setup-exit-codes.tsv; run scripts/exit-codes.sh" >&2; status=1; }
    else
        printf '%s\n' "$made" >"$file"
    fi
done
exit $status
