#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (as root), or prints the
# apt-get line to run.
set -euo pipefail
packages=(cmake make g++ clang libclang-rt-dev clang-format libgtest-dev libgmock-dev libbenchmark-dev
          g++-multilib qemu-user googletest
          g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64-x86-64
          binutils-mingw-w64-i686 wine wine64 util-linux python3 osslsigncode openssl)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages. Run as root:" >&2
  echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q "${missing[@]}"
