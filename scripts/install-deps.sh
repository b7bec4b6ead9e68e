#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and the Japanese locale (as
# root), or prints what to run.
set -euo pipefail
packages=(cmake make g++ clang libclang-rt-dev clang-format libgtest-dev libgmock-dev libbenchmark-dev
          g++-multilib qemu-user googletest
          g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64-x86-64
          binutils-mingw-w64-i686 wine wine64 util-linux python3 osslsigncode openssl locales)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Wine takes its ANSI code page from the locale: ja_JP.UTF-8 gives the tests code page 932.
locale_missing=0
locale -a 2>/dev/null | grep -qix 'ja_JP.utf-\?8' || locale_missing=1
[ ${#missing[@]} -eq 0 ] && [ $locale_missing -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages or locale. Run as root:" >&2
  [ ${#missing[@]} -eq 0 ] || echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
  [ $locale_missing -eq 0 ] || echo "  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8" >&2
  exit 1
fi
if [ ${#missing[@]} -ne 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q "${missing[@]}"
fi
if [ $locale_missing -ne 0 ]; then
  echo "Making the locale ja_JP.UTF-8"
  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
