#!/usr/bin/env bash
# Builds the release twice, from two clean clones of the same commit in
# different folders, at different times and in different time zones, and
# compares every file of the two dist/release/ folders and of the archives.
#
#   check-reproducible.sh [COMMIT]      (default HEAD; uncommitted changes are not built)
#
# Exit code 0 when every file is byte for byte the same. Takes two full
# release builds: about twice the time of `make release`.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$src" rev-parse "${1:-HEAD}")
work=$(mktemp -d "${TMPDIR:-/tmp}/vk-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT

build() {  # build FOLDER TZ
    git clone -q --no-local "$src" "$1"
    git -C "$1" checkout -q "$commit"
    echo "== make release in $1 (TZ=$2) =="
    (cd "$1" && TZ=$2 make release >"$work/$(basename "$1").log" 2>&1) ||
        { tail -n 30 "$work/$(basename "$1").log"; exit 1; }
    mkdir -p "$1.unpacked" && (cd "$1.unpacked" && unzip -q "$1"/dist/release/*.zip)
}
build "$work/first" UTC
build "$work/somewhere/else/second" Pacific/Auckland

status=0
compare() {  # compare DIR1 DIR2
    local a=$1 b=$2 f
    diff <(cd "$a" && find . -type f | sort) <(cd "$b" && find . -type f | sort) || status=1
    while IFS= read -r f; do
        if cmp -s "$a/$f" "$b/$f"; then
            echo "identical  $(sha256sum <"$a/$f" | cut -c1-16)  $f"
        else
            echo "DIFFERENT  $f"; status=1
        fi
    done < <(cd "$a" && find . -type f | sort)
}
echo "== dist/release =="
compare "$work/first/dist/release" "$work/somewhere/else/second/dist/release"
echo "== files in the archive =="
compare "$work/first.unpacked" "$work/somewhere/else/second.unpacked"
if [ $status = 0 ]; then
    echo "Reproducible: every file identical (commit ${commit:0:12})."
else
    echo "NOT reproducible: see DIFFERENT above (commit ${commit:0:12})." >&2
fi
exit $status
