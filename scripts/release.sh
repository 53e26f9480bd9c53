#!/usr/bin/env bash
# make release: builds what ships in clean release trees (build/release/) and
# writes dist/release/CellivantaVK-<version>.zip with SHA256SUMS over the
# archive and every file in it.
#
# Signing: SIGN_CERT and SIGN_KEY (PEM certificate and key), or SIGN_CERT alone
# as a PKCS#12 file; the key's password, if any, in the file SIGN_PASSWORD_FILE
# or in SIGN_PASSWORD. It reaches the signer only through an open file
# descriptor: no command line and no environment of the build holds it.
# SIGN_TIMESTAMP_URL optional. Without a certificate the release is unsigned,
# and says so.
#
# SUPPORT_CONTACT: where users turn for help (an address, a telephone number),
# shown by vkdiag, in both guides and in the build information; without it
# they name the dealer who sold the display.
#
# Only a committed tree is built: the release is dated and described by its
# commit, so uncommitted changes would ship under a name that is not theirs.
#
# The bytes depend only on the sources: every time inside is SOURCE_DATE_EPOCH
# (the commit's time unless given), signatures included when no timestamp
# server is given, and no build path is kept.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
version=$(head -n 1 VERSION)
name=CellivantaVK-$version

commit=$(git rev-parse --verify -q HEAD) ||
    { echo "make release builds a commit: this is no git checkout with one" >&2; exit 1; }
if [ -n "$(git status --porcelain --untracked-files=normal)" ]; then
    echo "make release refuses a tree with uncommitted changes; commit or stash them:" >&2
    git status --short >&2
    exit 1
fi
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
export TZ=UTC LC_ALL=C
umask 022

absolute() { [ -z "$1" ] && return 0; readlink -f "$1"; }
export SIGN_CERT=$(absolute "${SIGN_CERT:-}") SIGN_KEY=$(absolute "${SIGN_KEY:-}")
export SIGN_TIMESTAMP_URL=${SIGN_TIMESTAMP_URL:-}
export SUPPORT_CONTACT=${SUPPORT_CONTACT:-}
if [ -n "$SIGN_CERT" ]; then
    [ -f "$SIGN_CERT" ] || { echo "SIGN_CERT: no file $SIGN_CERT" >&2; exit 1; }
    case "$SIGN_CERT" in
        *.p12|*.pfx|*.P12|*.PFX) ;;
        *) [ -f "$SIGN_KEY" ] || { echo "SIGN_KEY: a PEM certificate needs its key file" >&2; exit 1; } ;;
    esac
elif [ -n "$SIGN_KEY" ]; then
    echo "SIGN_KEY given without SIGN_CERT" >&2; exit 1
fi

# The password goes into a file only this user can read, opened and deleted
# at once: the signers read it through the inherited descriptor.
hand_password_to_signer() {
    local dir fd
    if [ -n "${SIGN_PASSWORD_FILE:-}" ]; then
        [ -r "$SIGN_PASSWORD_FILE" ] || { echo "SIGN_PASSWORD_FILE: cannot read $SIGN_PASSWORD_FILE" >&2; exit 1; }
        exec {fd}<"$SIGN_PASSWORD_FILE"
    elif [ -n "${SIGN_PASSWORD+set}" ]; then
        dir=$(mktemp -d)
        (umask 077 && printf '%s' "$SIGN_PASSWORD" >"$dir/p")
        exec {fd}<"$dir/p"
        rm -rf "$dir"
    else
        return 0
    fi
    export SIGN_PASSWORD_FD=$fd
}
hand_password_to_signer
unset SIGN_PASSWORD SIGN_PASSWORD_FILE

# Clean trees: the 32-bit tree builds the 64-bit one first.
rm -rf build/release
cmake --preset release-x86_64 >/dev/null
cmake --preset release-i686 >/dev/null
cmake --build --preset release-i686

stage=build/release/stage/$name
mkdir -p "$stage/licenses"
for tree in x86_64 i686; do
    cmake --install build/release/$tree --prefix "$stage" >/dev/null
done
# Text for Notepad on any Windows: CRLF line ends, and a byte order mark on
# text beyond ASCII, without which Notepad before Windows 10 reads UTF-8 as
# the local code page (the French names in the guide).
crlf() {
    if LC_ALL=C grep -q -P '[\x80-\xFF]' "$1"; then printf '\357\273\277'; fi >"$2"
    sed 's/\r$//; s/$/\r/' "$1" >>"$2"
}
# Each guide ends with the key reference of the shipped key map in its
# language, and names the support contact set for this build (the guide's
# own words for the dealer otherwise).
guide() {  # guide MARKDOWN KEYS DEALER NAME
    scripts/guide-text.sh "$1" "$2" | awk -v dealer="$3" '
        ENVIRON["SUPPORT_CONTACT"] != "" && /^Support/ && (i = index($0, dealer)) {
            $0 = substr($0, 1, i - 1) ENVIRON["SUPPORT_CONTACT"] substr($0, i + length(dealer))
        } 1' >build/release/guide.txt
    crlf build/release/guide.txt "$stage/$4"
}
guide docs/user-guide.md docs/keys.md "the dealer who sold you the display" "User guide.txt"
guide docs/guide-fr.md docs/keys-fr.md "le revendeur qui vous a vendu l'afficheur" "Guide de l'utilisateur.txt"

# The release notes, one file for each language of docs/changes.md.
notes() {  # notes PART TITLE NAME
    { echo "# $2"; awk -v part="## $1" '/^## / { on = $0 == part; next } on' docs/changes.md; } |
        scripts/guide-text.sh /dev/stdin >build/release/notes.txt
    crlf build/release/notes.txt "$stage/$3"
}
notes English "What's new" "What's new.txt"
notes Français "Nouveautés" "Nouveautés.txt"

# The licences: the product's own, and those of what is built into the
# programs: the MinGW-w64 runtime and GCC's runtime libraries (linked
# statically), and NSIS (the setup package). Debian's copyright files point to
# licence texts under /usr/share/common-licenses: those texts ship beside them.
crlf LICENSE "$stage/licenses/Cellivanta VK.txt"
licence() {  # licence COPYRIGHT-FILE NAME
    local text=build/release/licence.txt path base
    cp "$1" "$text"
    # Longest names first: GPL-3 before GPL.
    for path in $(grep -o '/usr/share/common-licenses/[A-Za-z0-9.+-]*[A-Za-z0-9+]' "$1" | sort -ru); do
        base=$(basename "$(readlink -f "$path")")
        [ -f "/usr/share/common-licenses/$base" ] || { echo "$1 names $path: no such licence text" >&2; exit 1; }
        crlf "/usr/share/common-licenses/$base" "$stage/licenses/$base.txt"
        sed -i "s|$path|$base.txt (in this folder)|g" "$text"
    done
    crlf "$text" "$stage/licenses/$2.txt"
}
licence /usr/share/doc/mingw-w64-common/copyright "MinGW-w64 runtime"
licence /usr/share/doc/gcc-mingw-w64-base/copyright "GCC runtime libraries"
licence /usr/share/doc/nsis/copyright "NSIS"

# What this release was built from and with.
first_line() { "$@" 2>&1 | head -n 1 | sed 's/, using:$//'; }
debian() { echo "Debian package $1 $(dpkg-query -W -f='${Version}' "$1" 2>/dev/null || echo unknown)"; }
{
    echo "Cellivanta VK $version"
    echo "Commit: $commit"
    echo "Commit time: $(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S UTC')"
    echo "Support: ${SUPPORT_CONTACT:-the dealer who sold the display}"
    if [ -n "$SIGN_CERT" ]; then
        echo "Signed: $(openssl x509 -noout -subject -in "$SIGN_CERT" 2>/dev/null || echo "PKCS#12 certificate")"
        if [ -n "$SIGN_TIMESTAMP_URL" ]; then
            echo "Timestamp server: $SIGN_TIMESTAMP_URL"
        else
            echo "Signing time: the commit time (no timestamp server)"
        fi
    else
        echo "Signed: no"
    fi
    echo
    echo "64-bit compiler: $(first_line x86_64-w64-mingw32-g++-posix --version), $(debian g++-mingw-w64-x86-64-posix)"
    echo "32-bit compiler: $(first_line i686-w64-mingw32-g++-posix --version), $(debian g++-mingw-w64-i686-posix)"
    echo "Linker: $(first_line x86_64-w64-mingw32-ld --version), $(debian binutils-mingw-w64-x86-64)"
    echo "MinGW-w64 runtime: $(debian mingw-w64-common)"
    echo "NSIS: $(first_line makensis -VERSION), $(debian nsis)"
    echo "CMake: $(first_line cmake --version)"
    echo "Ninja: $(first_line ninja --version)"
    [ -z "$SIGN_CERT" ] || echo "Signer: $(first_line osslsigncode -v)"
} >build/release/build-info.txt
crlf build/release/build-info.txt "$stage/Build information.txt"

# Marks every name in the archive as UTF-8 (general purpose bit 11), which
# Debian's zip leaves unset: Windows would read Nouveautés.txt in the OEM code
# page otherwise. Walks the local headers, then the central directory's.
mark_utf8_names() {
    perl -e '
        open my $f, "+<:raw", $ARGV[0] or die "$ARGV[0]: $!";
        my $z = do { local $/; <$f> };
        my $p = 0;
        while (substr($z, $p, 4) eq "PK\x03\x04") {
            my ($flags, $size, $name, $extra) = unpack "v x10 V x4 v v", substr($z, $p + 6, 24);
            substr($z, $p + 6, 2) = pack "v", $flags | 0x800;
            $p += 30 + $name + $extra + $size;
        }
        while (substr($z, $p, 4) eq "PK\x01\x02") {
            my ($flags) = unpack "v", substr($z, $p + 8, 2);
            my ($name, $extra, $comment) = unpack "v v v", substr($z, $p + 28, 6);
            substr($z, $p + 8, 2) = pack "v", $flags | 0x800;
            $p += 46 + $name + $extra + $comment;
        }
        seek $f, 0, 0; print $f $z; close $f or die "$ARGV[0]: $!";
    ' "$1"
}

# The archive: one time, fixed modes, names in byte order, no extra fields.
chmod -R u=rwX,go=rX build/release/stage
find build/release/stage -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
out=$root/dist/release
rm -rf "$out" && mkdir -p "$out"
(cd build/release/stage && find "$name" -type f | sort | zip -q -X -D "$out/$name.zip" -@)
mark_utf8_names "$out/$name.zip"
(cd build/release/stage && find "$name" -type f | sort | xargs -d '\n' sha256sum && cd "$out" && sha256sum "$name.zip") \
    >"$out/SHA256SUMS.tmp"
mv "$out/SHA256SUMS.tmp" "$out/SHA256SUMS"

echo "Release in dist/release/:" && ls -l "$out"
if [ -n "$SIGN_CERT" ]; then
    echo "Signed with $(openssl x509 -noout -subject -in "$SIGN_CERT" 2>/dev/null || echo "$SIGN_CERT")."
else
    echo "UNSIGNED release: set SIGN_CERT and SIGN_KEY to sign it (Windows will warn of an unknown publisher)."
fi
