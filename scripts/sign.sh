#!/usr/bin/env bash
# Signs one Windows program or library in place with Authenticode.
#
#   sign.sh --cert=CERT --key=KEY --timestamp=URL FILE
#
# CERT is a PEM certificate (chain) with KEY its PEM private key, or a PKCS#12
# file (.p12/.pfx) with KEY empty. The key's password, if any, is read from
# the open file descriptor named by SIGN_PASSWORD_FD (scripts/release.sh opens
# it): a command line can be read by any local user, and an environment
# variable would reach every compiler of the build.
#
# TIMESTAMP_URL may be empty: the signature then carries SOURCE_DATE_EPOCH as
# its signing time, so a signed build gives the same bytes again, and it is
# valid only while the certificate is.
set -euo pipefail
cert="" key="" ts="" file=""
for arg; do
    case "$arg" in
        --cert=*) cert=${arg#--cert=} ;;
        --key=*) key=${arg#--key=} ;;
        --timestamp=*) ts=${arg#--timestamp=} ;;
        *) file=$arg ;;
    esac
done
[ -n "$file" ] || { echo "sign.sh: no file to sign" >&2; exit 2; }
if [ -n "${SIGN_PASSWORD+set}" ]; then
    echo "sign.sh: SIGN_PASSWORD is in the build's environment; give it to make release," \
         "which hands it to the signer by file descriptor" >&2
    exit 2
fi
args=(-h sha256 -n "Cellivanta VK" -i "https://www.kelvadore.com/")
case "$cert" in
    *.p12|*.pfx|*.P12|*.PFX) args+=(-pkcs12 "$cert") ;;
    *) args+=(-certs "$cert" -key "$key") ;;
esac
if [ -n "${SIGN_PASSWORD_FD:-}" ]; then
    [ -r "/dev/fd/$SIGN_PASSWORD_FD" ] ||
        { echo "sign.sh: SIGN_PASSWORD_FD $SIGN_PASSWORD_FD is not open for reading" >&2; exit 2; }
    args+=(-readpass "/dev/fd/$SIGN_PASSWORD_FD")
fi
if [ -n "$ts" ]; then
    args+=(-ts "$ts")
elif [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    args+=(-time "$SOURCE_DATE_EPOCH")
fi
tmp=$file.signing
rm -f "$tmp"
if ! osslsigncode sign "${args[@]}" -in "$file" -out "$tmp" >"$tmp.log" 2>&1; then
    cat "$tmp.log" >&2
    rm -f "$tmp" "$tmp.log"
    echo "sign.sh: signing $file failed" >&2
    exit 1
fi
rm -f "$tmp.log"
mv -f "$tmp" "$file"
