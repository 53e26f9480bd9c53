#!/usr/bin/env bash
# Builds the release twice, from two clean clones of the same commit, and
# compares every file of the two dist/release/ folders and of the archives;
# then the same again signed, with one throw-away certificate whose key has a
# password (without a timestamp server every signature carries the commit's
# time, so the signed bytes must match too).
#
#   check-reproducible.sh [COMMIT]      (default HEAD; uncommitted changes are not built)
#
# The second build differs in what the release does not pin itself (it sets
# its own time zone, locale and umask once it runs): the clone's folder and
# its depth, the time of the clone (the files' times), the umask the clone is
# checked out with, the temporary folder the compilers use, the number of
# jobs (the order in which objects and libraries are made), and
# SOURCE_DATE_EPOCH given by the caller instead of taken from the commit.
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

build() {  # build FOLDER unsigned|signed [ENV ARGUMENTS...]: the build's own environment
    local folder=$1 kind=$2 signing=()
    shift 2
    [ "$kind" = signed ] &&
        signing=(SIGN_CERT="$work/cert.pem" SIGN_KEY="$work/key.pem" SIGN_PASSWORD_FILE="$work/password")
    echo "== make release $kind in $folder ($*) =="
    (
        umask "$UMASK"
        git clone -q --no-local "$src" "$folder"
        git -C "$folder" checkout -q "$commit"
        cd "$folder" && env "$@" "${signing[@]}" make release >"$folder.log" 2>&1
    ) || { tail -n 30 "$folder.log"; exit 1; }
    mkdir -p "$folder.unpacked" && (cd "$folder.unpacked" && unzip -q "$folder"/dist/release/*.zip)
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
    mkdir -p "$work/tmp1" "$work/tmp2"
    UMASK=022 build "$first" "$1" -u SOURCE_DATE_EPOCH -u CMAKE_BUILD_PARALLEL_LEVEL TMPDIR="$work/tmp1"
    UMASK=077 build "$second" "$1" TMPDIR="$work/tmp2" CMAKE_BUILD_PARALLEL_LEVEL=1 \
        SOURCE_DATE_EPOCH="$(git -C "$src" log -1 --format=%ct "$commit")"
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
