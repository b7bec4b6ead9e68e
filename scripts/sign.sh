#!/usr/bin/env bash
# Signs Windows executables in place with Authenticode (osslsigncode, SHA-256), as
# scripts/release.sh does when given a key:
#   LINKWRIGHT_SIGN_PKCS12    the PKCS#12 file (.p12, .pfx) holding the certificate and key
#   LINKWRIGHT_SIGN_PASSWORD  its password (may be empty; never on a command line)
#   LINKWRIGHT_SIGN_TIMESTAMP a time-stamp server (RFC 3161) to ask; none unless named.
# Without a time-stamp server the signing time is SOURCE_DATE_EPOCH when set, so that the
# same inputs and key give the same bytes.
# Usage: scripts/sign.sh FILE.exe...
set -euo pipefail
: "${LINKWRIGHT_SIGN_PKCS12:?names the PKCS#12 file to sign with}"
: "${LINKWRIGHT_SIGN_PASSWORD?is the password of the PKCS#12 file (may be empty)}"
if ! command -v osslsigncode >/dev/null; then
  echo "sign: osslsigncode is missing (apt-get install osslsigncode)" >&2
  exit 1
fi
options=(-pkcs12 "$LINKWRIGHT_SIGN_PKCS12" -readpass - -h sha256 -n Linkwright)
if [ -n "${LINKWRIGHT_SIGN_TIMESTAMP:-}" ]; then
  options+=(-ts "$LINKWRIGHT_SIGN_TIMESTAMP")
elif [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
  options+=(-time "$SOURCE_DATE_EPOCH")
fi
for file in "$@"; do
  # Signed beside the file, then put in its place: a failure leaves the file as it was.
  signed=$(mktemp "$file.XXXXXX")
  if ! printf '%s' "$LINKWRIGHT_SIGN_PASSWORD" |
    osslsigncode sign "${options[@]}" -in "$file" -out "$signed.exe" >"$signed" 2>&1; then
    cat "$signed" >&2
    rm -f "$signed" "$signed.exe"
    echo "sign: failed: $file" >&2
    exit 1
  fi
  rm -f "$signed"
  chmod --reference="$file" "$signed.exe"
  mv -f "$signed.exe" "$file"
done
