#!/usr/bin/env bash
# The signed release end to end: a throw-away code-signing certificate whose
# key has a password, a signed `make release` from a clean clone through a
# stand-in signer that records its arguments and environment (the password
# must appear in neither), every signature checked with
# osslsigncode (every program and library in the archive, the payloads the
# tool stores, what the setup package installs), then the signed setup package
# and tool run under Wine by the installer tests of this build. Last, a
# signer that fails on the uninstaller must stop the setup package's build.
#
#   tests/release/signed-release.sh [COMMIT]    (default HEAD; after `make build`)
#
# Uncommitted changes are not built. Part of `make test` (CTest, in the
# environment the run holds); run by hand it starts and stops the build's
# Wine environment itself. Where 32-bit programs cannot run, the part under
# Wine is left out and the test ends as skipped (77) once the rest passed.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
cd "$src"
. scripts/machine.sh
commit=$(git rev-parse "${1:-HEAD}")
for t in i686/bin/installer_setup_test.exe i686/bin/installer_tool_test.exe x86_64/bin/vkhost.exe; do
    [ -f "build/$t" ] || { echo "build/$t is missing: run make build first" >&2; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/vk-signed.XXXXXX")
env_started=0
cleanup() {
    [ $env_started = 1 ] && scripts/test-env.sh stop build
    rm -rf "$work"
}
trap cleanup EXIT

echo "== a throw-away certificate, its key protected by a password =="
password=$(openssl rand -hex 16)
printf '%s' "$password" >"$work/password"
openssl req -x509 -newkey rsa:2048 -passout "file:$work/password" -sha256 -days 2 \
    -subj "/CN=Cellivanta VK throw-away test signer" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null

# The stand-in signer: records its arguments and environment, then signs.
standin=$work/standin
mkdir -p "$standin"
cat >"$standin/osslsigncode" <<EOF
#!/bin/sh
{ echo "ARGS: \$*"; env; } >>"$work/signer.log"
exec $(command -v osslsigncode) "\$@"
EOF
chmod +x "$standin/osslsigncode"

echo "== signed make release from a clean clone of ${commit:0:12} =="
clone=$work/clone
git clone -q --no-local "$src" "$clone" && git -C "$clone" checkout -q "$commit"
(cd "$clone" && PATH=$standin:$PATH SIGN_CERT=$work/cert.pem SIGN_KEY=$work/key.pem \
    SIGN_PASSWORD=$password make release) >"$work/release.log" 2>&1 ||
    { tail -n 30 "$work/release.log"; exit 1; }
grep -q '^Signed with' "$work/release.log" || { echo "the release does not say it is signed" >&2; exit 1; }
unpacked=$work/unpacked
mkdir -p "$unpacked" && (cd "$unpacked" && unzip -q "$clone"/dist/release/*.zip)
bin32=$clone/build/release/i686/bin bin64=$clone/build/release/x86_64/bin

status=0
echo "== both guides and both release notes, under their names =="
for text in "User guide.txt" "Guide de l'utilisateur.txt" "What's new.txt" "Nouveautés.txt"; do
    [ -s "$(find "$unpacked" -name "$text" -print -quit)" ] || { echo "MISSING     $text" >&2; status=1; }
done
echo "== the password: never on a signer's command line or in the build's environment =="
calls=$(grep -c '^ARGS: sign ' "$work/signer.log" || true)
if [ "$calls" -lt 5 ]; then
    echo "the stand-in signer was called $calls times" >&2; status=1
elif grep -qF -- "$password" "$work/signer.log" "$work/release.log"; then
    echo "THE PASSWORD APPEARS in a signer's arguments or environment, or in the build's output" >&2; status=1
elif [ "$(grep -c '^ARGS: sign .*-readpass /dev/fd/' "$work/signer.log")" != "$calls" ]; then
    echo "a signer was not given the password by file descriptor" >&2; status=1
else
    echo "$calls signer calls, each read the password from a file descriptor; it appears nowhere"
fi

verify() {  # verify FILE...
    local f
    for f in "$@"; do
        if osslsigncode verify -CAfile "$work/cert.pem" -in "$f" >"$work/verify.log" 2>&1; then
            echo "signed      ${f#"$work"/}"
        else
            echo "NOT SIGNED  ${f#"$work"/}"; sed 's/^/    /' "$work/verify.log" | tail -n 5; status=1
        fi
    done
}
hex() { od -An -v -tx1 "$1" | tr -d ' \n'; }
stored_in() {  # stored_in CONTAINER FILE: FILE's bytes lie inside CONTAINER
    if grep -qF -f <(hex "$2") <(hex "$1"); then
        echo "stored      $(basename "$2") in $(basename "$1"), as signed"
    else
        echo "NOT STORED  $(basename "$2") in $(basename "$1") as signed"; status=1
    fi
}

echo "== signatures =="
mapfile -t programs < <(find "$unpacked" -type f \( -iname '*.exe' -o -iname '*.dll' -o -iname '*.jlb' \) | sort)
[ ${#programs[@]} -ge 5 ] || { echo "only ${#programs[@]} programs in the archive" >&2; exit 1; }
verify "${programs[@]}" "$bin32/DPInst.exe" "$bin64/DPInst_x64.exe"
tool=$(find "$unpacked" -name CellivantaVKTools.exe)
for payload in "$(find "$unpacked" -name Setup.exe)" "$bin32/DPInst.exe" "$bin64/DPInst_x64.exe"; do
    stored_in "$tool" "$payload"
done

# The setup package and the tool are 32-bit programs.
if vk_can_run_32bit; then
    echo "== the signed setup package under Wine: what it installs is signed =="
    if [ -z "${WINEPREFIX:-}" ]; then
        scripts/test-env.sh start build >/dev/null
        env_started=1
    fi
    export WINEPREFIX=${WINEPREFIX:-$src/build/wineprefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    jaws_key='HKLM\Software\Freedom Scientific\ThirdPartyBraille\1.0'
    installed=$WINEPREFIX/drive_c/vk-signed-release
    rm -rf "$installed"
    wine reg add "$jaws_key" /v Target /d 'C:\vk-signed-release' /f /reg:64 >/dev/null 2>&1
    rc=0; wine "$(find "$unpacked" -name Setup.exe)" /S >/dev/null 2>&1 || rc=$?
    wine reg delete "$jaws_key" /f /reg:64 >/dev/null 2>&1 || true
    wine reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\CellivantaVK' /f >/dev/null 2>&1 || true
    if [ $rc != 0 ]; then echo "Setup.exe /S exited with $rc" >&2; status=1; fi
    verify "$installed/VK.JLB" "$installed/vkkeys.exe" "$installed/vkdiag.exe" "$installed/Uninstall Cellivanta VK.exe"
    rm -rf "$installed"

    echo "== the installer tests on the signed setup package and tool =="
    # The screen-reader stand-in is no part of a release: the tests load the
    # installed driver with this build's.
    cp build/x86_64/bin/vkhost.exe "$bin64/"
    export VKTEST_SOURCE_DIR=$clone VKTEST_BIN_DIR=$bin32 VKTEST_BIN64_DIR=$bin64
    cmake/wine-run.sh build/i686/bin/installer_setup_test.exe --gtest_brief=1 \
        --gtest_filter='SetupPackage.*-*PcEmulator*' || status=1
    cmake/wine-run.sh build/i686/bin/installer_tool_test.exe --gtest_brief=1 \
        --gtest_filter='Program.ShowsItsDialogAndCleansUpWhenClosed' || status=1
fi

echo "== a signer that fails on the uninstaller stops the setup package's build =="
# The first call is the uninstaller's, while makensis runs; later calls pass.
cat >"$standin/osslsigncode" <<EOF
#!/bin/sh
if [ ! -e "$work/refused" ]; then : >"$work/refused"; echo "stand-in signer: refused" >&2; exit 1; fi
while [ \$# -gt 1 ]; do case "\$1" in -in) in=\$2 ;; -out) out=\$2 ;; esac; shift; done
cp "\$in" "\$out"
EOF
rm -f "$bin32/Setup.exe"
if (cd "$clone" && PATH=$standin:$PATH cmake --build build/release/i686 --target setup_package) \
        >"$work/refused.log" 2>&1; then
    echo "THE SETUP PACKAGE WAS BUILT although its uninstaller's signature failed" >&2; status=1
elif [ ! -e "$work/refused" ] || [ -e "$bin32/Setup.exe" ]; then
    echo "the build failed, but not on the refused signature" >&2; tail -n 5 "$work/refused.log"; status=1
else
    echo "the build stopped on the refused signature, and no setup package was written"
fi

[ $status = 0 ] || exit $status
vk_skip_32bit "the signed setup package and tool under Wine (the signatures were checked)"
echo "Signed release: every signature verified, setup and tool run signed; the password appears nowhere; a failed signature stops the build."
