#!/usr/bin/env bash
# The signed release end to end: a throw-away code-signing certificate, a
# signed `make release` from a clean clone, every signature checked with
# osslsigncode (every program and library in the archive, the payloads the
# tool stores, what the setup package installs), then the signed setup package
# and tool run under Wine by the installer tests of this build.
#
#   tests/release/signed-release.sh [COMMIT]    (default HEAD; after `make build`)
#
# Uncommitted changes are not built. Part of `make test` (CTest, in the
# environment the run holds); run by hand it starts and stops the build's
# Wine environment itself.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
cd "$src"
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

echo "== a throw-away certificate =="
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 \
    -subj "/CN=Cellivanta VK throw-away test signer" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null

echo "== signed make release from a clean clone of ${commit:0:12} =="
clone=$work/clone
git clone -q --no-local "$src" "$clone" && git -C "$clone" checkout -q "$commit"
(cd "$clone" && SIGN_CERT=$work/cert.pem SIGN_KEY=$work/key.pem make release) >"$work/release.log" 2>&1 ||
    { tail -n 30 "$work/release.log"; exit 1; }
grep -q '^Signed with' "$work/release.log" || { echo "the release does not say it is signed" >&2; exit 1; }
unpacked=$work/unpacked
mkdir -p "$unpacked" && (cd "$unpacked" && unzip -q "$clone"/dist/release/*.zip)
bin32=$clone/build/release/i686/bin bin64=$clone/build/release/x86_64/bin

status=0
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

if [ $status = 0 ]; then echo "Signed release: every signature verified, setup and tool run signed."; fi
exit $status
