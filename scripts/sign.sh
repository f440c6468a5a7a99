#!/usr/bin/env bash
# Signs Windows files in place (Authenticode, SHA-256) with osslsigncode: the
# DLL and the programs before they are packaged, the MSIs after. A build
# configured with -DMJ_SIGN=ON runs it on each as it is made; scripts/release.sh
# --sign does that. The certificate comes from the environment, never from
# the repository:
#
#   MJ_SIGN_PFX             a PKCS#12 file (.pfx, .p12) with the key and its certificates
#   MJ_SIGN_PASSWORD        its password (or the token's PIN); never put on a command line
# or a key on a PKCS#11 token (a smart card, a hardware security module):
#   MJ_SIGN_PKCS11_MODULE   the token's PKCS#11 library, e.g. /usr/lib/x86_64-linux-gnu/opensc-pkcs11.so
#   MJ_SIGN_PKCS11_KEY      the key's PKCS#11 URI, e.g. "pkcs11:token=Code%20Signing;object=release"
#   MJ_SIGN_CERTS           the certificate and its chain (PEM), or
#   MJ_SIGN_PKCS11_CERT     the certificate's PKCS#11 URI on the token
#   MJ_SIGN_PKCS11_ENGINE   the OpenSSL engine for the token, if osslsigncode does not find it
# and for both:
#   MJ_SIGN_TIMESTAMP_URL   an RFC 3161 time-stamp server (optional, several separated by spaces):
#                           the signature then stays valid after the certificate expires
#   MJ_SIGN_DESCRIPTION     what Windows shows as the signed program's name (default below)
#   MJ_SIGN_INFO_URL        a web page about it (optional)
#
#   scripts/sign.sh FILE...
set -euo pipefail

if [ $# -eq 0 ]; then
  echo "usage: scripts/sign.sh FILE... (the certificate from MJ_SIGN_PFX or MJ_SIGN_PKCS11_*)" >&2
  exit 2
fi
command -v osslsigncode >/dev/null || { echo "sign: needs osslsigncode (Debian: apt install osslsigncode)" >&2; exit 2; }

key=()
if [ -n "${MJ_SIGN_PFX:-}" ]; then
  [ -f "$MJ_SIGN_PFX" ] || { echo "sign: MJ_SIGN_PFX names no file: $MJ_SIGN_PFX" >&2; exit 2; }
  key=(-pkcs12 "$MJ_SIGN_PFX")
elif [ -n "${MJ_SIGN_PKCS11_MODULE:-}" ]; then
  [ -n "${MJ_SIGN_PKCS11_KEY:-}" ] || { echo "sign: MJ_SIGN_PKCS11_MODULE needs MJ_SIGN_PKCS11_KEY, the key's URI" >&2; exit 2; }
  [ -z "${MJ_SIGN_PKCS11_ENGINE:-}" ] || key+=(-pkcs11engine "$MJ_SIGN_PKCS11_ENGINE")
  key+=(-pkcs11module "$MJ_SIGN_PKCS11_MODULE")
  if [ -n "${MJ_SIGN_PKCS11_CERT:-}" ]; then
    key+=(-pkcs11cert "$MJ_SIGN_PKCS11_CERT")
  elif [ -n "${MJ_SIGN_CERTS:-}" ]; then
    [ -f "$MJ_SIGN_CERTS" ] || { echo "sign: MJ_SIGN_CERTS names no file: $MJ_SIGN_CERTS" >&2; exit 2; }
    key+=(-certs "$MJ_SIGN_CERTS")
  else
    echo "sign: a PKCS#11 key needs its certificate: MJ_SIGN_CERTS or MJ_SIGN_PKCS11_CERT" >&2
    exit 2
  fi
  key+=(-key "$MJ_SIGN_PKCS11_KEY")
else
  echo "sign: no certificate: set MJ_SIGN_PFX (and MJ_SIGN_PASSWORD), or MJ_SIGN_PKCS11_MODULE and MJ_SIGN_PKCS11_KEY" >&2
  exit 2
fi

options=(-h sha256 -n "${MJ_SIGN_DESCRIPTION:-Veltrano Mouse Jiggler}")
[ -z "${MJ_SIGN_INFO_URL:-}" ] || options+=(-i "$MJ_SIGN_INFO_URL")
for url in ${MJ_SIGN_TIMESTAMP_URL:-}; do
  options+=(-ts "$url")
done

for file in "$@"; do
  [ -f "$file" ] || { echo "sign: no such file: $file" >&2; exit 2; }
  signed="$file.signed"
  rm -f "$signed"
  # The password through a pipe of this shell: no file, no command line.
  if [ -n "${MJ_SIGN_PASSWORD:-}" ]; then
    out=$(osslsigncode sign "${key[@]}" -readpass <(printf '%s' "$MJ_SIGN_PASSWORD") "${options[@]}" \
      -in "$file" -out "$signed" 2>&1) || { rm -f "$signed"; echo "sign: $file: $out" >&2; exit 1; }
  else
    out=$(osslsigncode sign "${key[@]}" "${options[@]}" -in "$file" -out "$signed" 2>&1) ||
      { rm -f "$signed"; echo "sign: $file: $out" >&2; exit 1; }
  fi
  chmod --reference="$file" "$signed"
  mv -f "$signed" "$file"
  echo "signed $file"
done
