#!/usr/bin/env bash
# Builds the release again from a copy of the sources in another folder (scripts/release.sh)
# and checks that every executable is byte for byte the one the presets built in build/
# (linux, windows-x64, windows-x86: the release configuration, built first by test.sh).
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
exit $failed
