#!/usr/bin/env bash
# Signs one Windows program or library in place with Authenticode.
#
#   sign.sh CERT KEY TIMESTAMP_URL FILE
#
# CERT is a PEM certificate (chain) with KEY its PEM private key, or a PKCS#12
# file (.p12/.pfx) with KEY empty; its password, if any, in SIGN_PASSWORD.
# TIMESTAMP_URL may be empty: without a timestamp the signature is valid only
# while the certificate is.
set -euo pipefail
cert=$1 key=$2 ts=$3 file=$4
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
