#!/usr/bin/env bash
# The test bundle for Windows: dist/CellivantaVK-tests-<version>.zip holds the
# test programs of both build trees, the files of the source they read, the
# payloads they need, the runner with run-tests.cmd and README-tests.txt.
#
#   windows-tests.sh          writes the bundle into dist/ (`make windows-tests`)
#   windows-tests.sh --check  writes it into build/windows-tests/ and checks
#                             that it holds every test program of the build
#                             (`make test`)
# Both trees must be built.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-}
version=$(head -n 1 VERSION)
name=CellivantaVK-tests-$version
work=build/windows-tests
stage=$work/stage
out=dist
[ "$mode" = --check ] && out=$work

fail() {
    echo "windows-tests: $*" >&2
    exit 1
}

# The files of the source tree the tests read.
SOURCE_FILES=(driver/keys/kvbrl.ini docs/keys.md docs/keys-fr.md tools/installer/payloads/win7-64.inf)

rm -rf "$stage" && mkdir -p "$stage"
for tree in x86_64 i686; do
    [ -d "build/$tree/bin" ] || fail "the $tree tree is not built (make build)"
    ctest --preset "$tree" --show-only=json-v1 >"$work/$tree.json"
done
cmake -DTREES="x86_64;i686" -DJSON_DIR="$work" -DLINUX_ONLY=tests/bundle/linux-only.txt -DOUT="$stage" \
    -P tests/bundle/manifest.cmake || fail "the list of test programs could not be made"
mv "$stage/programs.txt" "$work/programs.txt"

# Each tree's programs with what lies beside them: the deliverables, the
# payloads, the helper programs and libraries the tests start or load.
for tree in x86_64 i686; do
    mkdir -p "$stage/$tree"
    find "build/$tree/bin" -maxdepth 1 -type f \( -iname '*.exe' -o -iname '*.dll' -o -iname '*.jlb' -o -iname '*.ini' \) \
        ! -name vktestrun.exe -exec cp {} "$stage/$tree/" \;
done
for f in "${SOURCE_FILES[@]}"; do
    mkdir -p "$stage/source/$(dirname "$f")"
    cp "$f" "$stage/source/$f"
done
cp build/i686/bin/vktestrun.exe "$stage/"
for f in run-tests.cmd README-tests.txt restored-keys.txt; do
    sed 's/\r*$/\r/' "tests/bundle/$f" >"$stage/$f"
done

# Every program the build registers is in the bundle, by the list it runs.
missing=()
while read -r exe; do
    [ -n "$exe" ] || continue
    tree=$(basename "$(dirname "$(dirname "$exe")")")
    [ -f "$stage/$tree/$(basename "$exe")" ] || missing+=("$tree/$(basename "$exe")")
done <"$work/programs.txt"
[ ${#missing[@]} -eq 0 ] || fail "test programs missing from the bundle: ${missing[*]}"

mkdir -p "$out"
rm -f "$out/$name.zip"
(cd "$stage" && find . -type f | sed 's|^\./||' | sort | zip -q -X -D "$OLDPWD/$out/$name.zip" -@)
programs=$(grep -vc '^#\|	linux	' "$stage/tests.txt" || true)
echo "Test bundle $out/$name.zip: $programs test programs ($(du -h "$out/$name.zip" | cut -f1))"
