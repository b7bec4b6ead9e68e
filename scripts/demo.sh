#!/usr/bin/env bash
# Builds vpnsetup and runs it on a sandbox per-user phonebook (never your real one),
# natively and, when the Windows build is there, under wine64; shows the log and the
# phonebook it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target vpnsetup

sandbox=$PWD/sandbox/native
rm -rf "$sandbox"
mkdir -p "$sandbox/bin"
cp build/linux/vpnsetup "$sandbox/bin/vpnsetup.exe"
echo "=== native run (APPDATA=$sandbox/AppData/Roaming)"
status=0
APPDATA=$sandbox/AppData/Roaming ProgramData=$sandbox/ProgramData \
  "$sandbox/bin/vpnsetup.exe" "$@" || status=$?
echo "=== exit status: $status"
pbk=$sandbox/AppData/Roaming/Microsoft/Network/Connections/Pbk/rasphone.pbk
if [ -f "$pbk" ]; then
  echo "=== $pbk"
  cat "$pbk"
fi

exe=build/windows-x64/vpnsetup.exe
if [ -f "$exe" ] && [ -x /usr/lib/wine/wine64 ]; then
  prefix=$PWD/sandbox/wineprefix
  echo "=== Windows run under wine64 (WINEPREFIX=$prefix)"
  [ -f "$prefix/system.reg" ] || LINKWRIGHT_WINEPREFIX=$prefix scripts/wine-prefix
  status=0
  LINKWRIGHT_WINEPREFIX=$prefix scripts/wine-run "$exe" "$@" || status=$?
  echo "=== exit status: $status"
  user=${USER:-root}
  pbk=$prefix/drive_c/users/$user/AppData/Roaming/Microsoft/Network/Connections/Pbk/rasphone.pbk
  if [ -f "$pbk" ]; then
    echo "=== $pbk"
    cat "$pbk"
  fi
fi
