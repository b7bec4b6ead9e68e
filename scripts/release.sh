#!/usr/bin/env bash
# Builds a release into DIST (default dist/): vpnsetup-x86.exe, vpnsetup-x64.exe,
# lwtemplate (Linux) and lwtemplate.exe (x64), the template they carry, a deployment README,
# the change list and SHA256SUMS. The same sources give the same bytes in any folder; dates
# come from SOURCE_DATE_EPOCH (default: the last commit's). Build trees go to
# LW_RELEASE_BUILD (default build/release).
# Given a key (LINKWRIGHT_SIGN_PKCS12 and LINKWRIGHT_SIGN_PASSWORD, and
# LINKWRIGHT_SIGN_TIMESTAMP for a time-stamp server: see scripts/sign.sh), the three Windows
# executables are signed, and SHA256SUMS is over the signed files.
# Usage: scripts/release.sh [DIST]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dist=$(realpath -m "${1:-$root/dist}")
build=$(realpath -m "${LW_RELEASE_BUILD:-$root/build/release}")
cd "$root"
scripts/install-deps.sh
# A key that cannot be used stops the release before anything is built.
if [ -n "${LINKWRIGHT_SIGN_PKCS12:-}" ] && [ ! -r "$LINKWRIGHT_SIGN_PKCS12" ]; then
  echo "release: cannot read LINKWRIGHT_SIGN_PKCS12 ($LINKWRIGHT_SIGN_PKCS12)" >&2
  exit 1
fi
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || echo 0)
fi
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# Quiet unless a step fails; then its output is shown.
step() {
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    echo "release: failed: $*" >&2
    exit 1
  fi
}

echo "release: building in $build"
configure() {
  step cmake --preset "$1" -B "$build/$1" -DLINKWRIGHT_TESTS=OFF -DLINKWRIGHT_BENCH=OFF "${@:2}"
}
# The native lwtemplate first: the Windows builds check their template with it.
configure linux
step cmake --build "$build/linux" -j2 --target lwtemplate
configure windows-x64 -DLINKWRIGHT_HOST_LWTEMPLATE="$build/linux/lwtemplate"
step cmake --build "$build/windows-x64" -j2 --target vpnsetup lwtemplate
configure windows-x86 -DLINKWRIGHT_HOST_LWTEMPLATE="$build/linux/lwtemplate"
step cmake --build "$build/windows-x86" -j2 --target vpnsetup
for arch in x86 x64; do
  step scripts/check-imports "$build/windows-$arch/vpnsetup.exe"
done

rm -rf "$dist"
mkdir -p "$dist"
cp "$build/windows-x86/vpnsetup.exe" "$dist/vpnsetup-x86.exe"
cp "$build/windows-x64/vpnsetup.exe" "$dist/vpnsetup-x64.exe"
cp "$build/windows-x64/lwtemplate.exe" "$dist/lwtemplate.exe"
strip -o "$dist/lwtemplate" "$build/linux/lwtemplate"
cp resources/template.ini "$dist/template.ini"
capacity=$(sed -n 's/^LINKWRIGHT_TEMPLATE_CAPACITY:[A-Z]*=//p' "$build/windows-x64/CMakeCache.txt")
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/windows-x64/CMakeCache.txt")
# Windows readers of the texts get CR LF line ends.
sed -e "s/@CAPACITY@/$capacity/" -e "s/@VERSION@/$version/" -e 's/$/\r/' \
  resources/dist-README.txt >"$dist/README.txt"
sed -e 's/$/\r/' resources/CHANGES.txt >"$dist/CHANGES.txt"
if [ -n "${LINKWRIGHT_SIGN_PKCS12:-}" ]; then
  echo "release: signing with $LINKWRIGHT_SIGN_PKCS12"
  step scripts/sign.sh "$dist/vpnsetup-x86.exe" "$dist/vpnsetup-x64.exe" "$dist/lwtemplate.exe"
fi
(
  cd "$dist"
  sha256sum CHANGES.txt README.txt lwtemplate lwtemplate.exe template.ini vpnsetup-x64.exe \
    vpnsetup-x86.exe >SHA256SUMS
)
touch -d "@$SOURCE_DATE_EPOCH" "$dist"/*

echo "release: $dist"
(cd "$dist" && ls -l --time-style=+ | awk 'NR > 1 { printf "  %-18s %9d bytes\n", $NF, $5 }')
