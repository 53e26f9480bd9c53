#!/usr/bin/env bash
# Builds the release twice, from two clean clones of the same commit in
# different folders, at different times and in different time zones, and
# compares every file of the two dist/release/ folders and of the archives;
# then the same again signed, with one throw-away certificate whose key has a
# password (without a timestamp server every signature carries the commit's
# time, so the signed bytes must match too).
#
#   check-reproducible.sh [COMMIT]      (default HEAD; uncommitted changes are not built)
#
# Exit code 0 when every file is byte for byte the same. Takes four full
# release builds: about four times the time of `make release`.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$src" rev-parse "${1:-HEAD}")
work=$(mktemp -d "${TMPDIR:-/tmp}/vk-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT

(umask 077 && openssl rand -hex 16 >"$work/password")
openssl req -x509 -newkey rsa:2048 -passout "file:$work/password" -sha256 -days 2 \
    -subj "/CN=Cellivanta VK throw-away reproducibility signer" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null

build() {  # build FOLDER TZ [signed]
    local signing=()
    [ "${3:-}" = signed ] &&
        signing=(SIGN_CERT="$work/cert.pem" SIGN_KEY="$work/key.pem" SIGN_PASSWORD_FILE="$work/password")
    git clone -q --no-local "$src" "$1"
    git -C "$1" checkout -q "$commit"
    echo "== make release ${3:-unsigned} in $1 (TZ=$2) =="
    (cd "$1" && env "${signing[@]}" TZ="$2" make release >"$1.log" 2>&1) ||
        { tail -n 30 "$1.log"; exit 1; }
    mkdir -p "$1.unpacked" && (cd "$1.unpacked" && unzip -q "$1"/dist/release/*.zip)
}

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
pair() {  # pair unsigned|signed
    local first=$work/$1/first second=$work/$1/somewhere/else/second
    build "$first" UTC "$1"
    build "$second" Pacific/Auckland "$1"
    echo "== $1: dist/release =="
    compare "$first/dist/release" "$second/dist/release"
    echo "== $1: files in the archive =="
    compare "$first.unpacked" "$second.unpacked"
    rm -rf "$work/$1"
}
pair unsigned
pair signed
if [ $status = 0 ]; then
    echo "Reproducible, unsigned and signed: every file identical (commit ${commit:0:12})."
else
    echo "NOT reproducible: see DIFFERENT above (commit ${commit:0:12})." >&2
fi
exit $status
