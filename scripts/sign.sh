#!/usr/bin/env bash
# Signs one Windows program or library in place with Authenticode.
#
#   sign.sh --cert=CERT --key=KEY --timestamp=URL FILE
#
# CERT is a PEM certificate (chain) with KEY its PEM private key, or a PKCS#12
# file (.p12/.pfx) with KEY empty; its password, if any, in SIGN_PASSWORD.
# TIMESTAMP_URL may be empty: without a timestamp the signature is valid only
# while the certificate is.
set -euo pipefail
cert="" key="" ts=""
for arg; do
    case "$arg" in
        --cert=*) cert=${arg#--cert=} ;;
        --key=*) key=${arg#--key=} ;;
        --timestamp=*) ts=${arg#--timestamp=} ;;
        *) file=$arg ;;
    esac
done
args=(-h sha256 -n "Cellivanta VK" -i "https://www.kelvadore.com/")
case "$cert" in
    *.p12|*.pfx|*.P12|*.PFX) args+=(-pkcs12 "$cert") ;;
    *) args+=(-certs "$cert" -key "$key") ;;
esac
[ -n "${SIGN_PASSWORD:-}" ] && args+=(-pass "$SIGN_PASSWORD")
[ -n "$ts" ] && args+=(-ts "$ts")
tmp=$file.signing
rm -f "$tmp"
osslsigncode sign "${args[@]}" -in "$file" -out "$tmp" >/dev/null
mv -f "$tmp" "$file"
