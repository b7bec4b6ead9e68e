#!/usr/bin/env bash
# Builds the release again from a copy of the sources in another folder (scripts/release.sh)
# and checks that every executable is byte for byte the one the presets built in build/
# (linux, windows-x64, windows-x86: the release configuration, built first by test.sh).
# Then releases once more from the same build trees with a key made for the check: every
# Windows executable must carry a signature osslsigncode verifies and be the unsigned one
# once that is removed, SHA256SUMS must hold the signed files' sums, and signing again must
# give the same bytes.
# Usage: scripts/check-reproducible.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/lw-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The sources as they stand, committed or not, without build trees or other ignored files.
mkdir "$work/src"
(
  cd "$root"
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
    tar --null -T - -cf -
) | tar -C "$work/src" -xf -

# Both builds see the same date; nothing built may depend on it.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}
LW_RELEASE_BUILD=$work/build "$work/src/scripts/release.sh" "$work/dist" >/dev/null

strip -o "$work/lwtemplate.native" "$root/build/linux/lwtemplate"
failed=0
while read -r released built; do
  if cmp -s "$work/dist/$released" "$built"; then
    echo "reproducible: $released ($(stat -c %s "$built") bytes)"
  else
    echo "NOT REPRODUCIBLE: $released differs from $built" >&2
    cmp "$work/dist/$released" "$built" | head -1 >&2 || true
    failed=1
  fi
done <<EOF
vpnsetup-x64.exe $root/build/windows-x64/vpnsetup.exe
vpnsetup-x86.exe $root/build/windows-x86/vpnsetup.exe
lwtemplate.exe $root/build/windows-x64/lwtemplate.exe
lwtemplate $work/lwtemplate.native
EOF
[ $failed -eq 0 ] || exit 1

# A signed release from the same build trees, with a throwaway key (never kept).
key=$work/key
mkdir "$key"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$key/key.pem" -out "$key/cert.pem" -days 2 \
  -subj "/CN=Linkwright release check" -addext extendedKeyUsage=codeSigning 2>/dev/null
openssl pkcs12 -export -inkey "$key/key.pem" -in "$key/cert.pem" -out "$key/release.p12" \
  -passout pass:release-check
export LINKWRIGHT_SIGN_PKCS12=$key/release.p12 LINKWRIGHT_SIGN_PASSWORD=release-check
LW_RELEASE_BUILD=$work/build "$work/src/scripts/release.sh" "$work/signed" >/dev/null
for exe in vpnsetup-x86.exe vpnsetup-x64.exe lwtemplate.exe; do
  if ! osslsigncode verify -CAfile "$key/cert.pem" -in "$work/signed/$exe" >/dev/null 2>&1; then
    echo "NOT SIGNED: $exe of the signed release" >&2
    failed=1
  elif cmp -s "$work/signed/$exe" "$work/dist/$exe"; then
    echo "NOT SIGNED: $exe is the unsigned one" >&2
    failed=1
  fi
  cp "$work/dist/$exe" "$work/again.exe"
  "$work/src/scripts/sign.sh" "$work/again.exe"
  cmp -s "$work/again.exe" "$work/signed/$exe" || { echo "signing $exe again differs" >&2; failed=1; }
  # The signature is all that signing adds.
  osslsigncode remove-signature -in "$work/signed/$exe" -out "$work/unsigned.exe" >/dev/null
  cmp -s "$work/unsigned.exe" "$work/dist/$exe" || {
    echo "$exe without its signature is not the unsigned one" >&2
    failed=1
  }
  rm -f "$work/again.exe" "$work/unsigned.exe"
done
(cd "$work/signed" && sha256sum --quiet -c SHA256SUMS) || failed=1
[ $failed -eq 0 ] && echo "signed release: every executable verified, SHA256SUMS of the signed files"
exit $failed
