#!/usr/bin/env bash
# Runs every test: formatting, the native builds (plain and sanitized), the 32-bit Linux
# build's unit tests under qemu-i386, the 64-bit Windows build under wine64, the 32-bit
# Windows build's import check, a second release build that must give the same bytes, and
# short fuzz runs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

scripts/check-format.sh

for preset in linux linux-asan linux-x86 windows-x64 windows-x86; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

# The release built again in another folder gives the very bytes the presets built.
echo "=== reproducible release"
scripts/check-reproducible.sh

if command -v clang++ >/dev/null; then
  scripts/fuzz.sh "${LINKWRIGHT_FUZZ_SECONDS:-40}"
fi
echo "all tests passed"
