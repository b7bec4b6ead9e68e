#!/usr/bin/env bash
# The product in one command. Builds vpnsetup natively and as the 64-bit Windows
# executable, runs both on sandbox phonebooks (never your own: APPDATA and ProgramData, or
# the Wine prefix, point into sandbox/) and shows their logs and phonebooks; then makes a
# template of a sample phonebook entry with lwtemplate from-phonebook, stamps it into a copy
# of the Windows executable and runs that too. Build output goes to sandbox/build.log and is
# shown only when a step fails. Arguments are passed on to the tool (scripts/demo.sh /u).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
sandbox=$root/sandbox
mkdir -p "$sandbox"
log=$sandbox/build.log
: >"$log"
suffix=Microsoft/Network/Connections/Pbk/rasphone.pbk

# Runs a step with its output in the log; on failure shows the end of the log and stops.
quietly() {
  if ! "$@" >>"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "demo: failed: $* (all of its output: $log)" >&2
    exit 1
  fi
}

# Shows a run's log and its exit status.
show_run() {
  echo
  echo "=== $1"
  shift
  local status=0
  "$@" || status=$?
  echo "--- exit status $status"
}

# Shows the phonebook a run left, copied to $2 as well.
show_phonebook() {
  if [ -f "$1" ]; then
    echo "--- $1"
    tr -d '\r' <"$1"
    [ "$1" -ef "$2" ] || cp "$1" "$2"
  else
    echo "--- no phonebook written"
  fi
}

echo "Building the native and the 64-bit Windows vpnsetup and lwtemplate (output: $log)"
quietly scripts/install-deps.sh
quietly cmake --preset linux
quietly cmake --build --preset linux --target vpnsetup lwtemplate
quietly cmake --preset windows-x64
quietly cmake --build --preset windows-x64 --target vpnsetup

# Native: the POSIX stand-in, APPDATA and ProgramData in the sandbox.
native=$sandbox/native
rm -rf "$native"
mkdir -p "$native/bin"
cp build/linux/vpnsetup "$native/bin/vpnsetup.exe"
show_run "native run (APPDATA=$native/AppData/Roaming)" \
  env APPDATA="$native/AppData/Roaming" ProgramData="$native/ProgramData" \
  "$native/bin/vpnsetup.exe" "$@"
show_phonebook "$native/AppData/Roaming/$suffix" "$native/AppData/Roaming/$suffix"

# Windows: wine64 in a prefix of the sandbox, made once; its phonebooks start empty each time.
prefix=$sandbox/wineprefix
export LINKWRIGHT_WINEPREFIX=$prefix
if [ ! -f "$prefix/system.reg" ]; then
  echo
  echo "Making a Wine prefix in $prefix (once)"
  quietly scripts/wine-prefix
fi
wine_pbk() {
  local found
  for found in "$prefix"/drive_c/users/*/AppData/Roaming/$suffix; do
    [ -f "$found" ] && echo "$found" && return
  done
  echo "$prefix/drive_c/users/${USER:-root}/AppData/Roaming/$suffix"
}
fresh_phonebooks() {
  rm -f "$prefix"/drive_c/users/*/AppData/Roaming/$suffix "$prefix/drive_c/ProgramData/$suffix"
}
windows=$sandbox/windows
mkdir -p "$windows"
cp build/windows-x64/vpnsetup.exe "$windows/vpnsetup.exe"
fresh_phonebooks
show_run "Windows run under wine64 (WINEPREFIX=$prefix)" \
  scripts/wine-run "$windows/vpnsetup.exe" "$@"
show_phonebook "$(wine_pbk)" "$windows/rasphone.pbk"

# An administrator's own template: a sample entry made into one and stamped in.
stamped=$sandbox/stamped
rm -rf "$stamped"
mkdir -p "$stamped"
entry=vpn.pin.si
echo
echo "=== lwtemplate from-phonebook tests/data/six-vpn-entries.pbk $entry > $stamped/$entry.ini"
build/linux/lwtemplate from-phonebook tests/data/six-vpn-entries.pbk "$entry" >"$stamped/$entry.ini"
sed -n '1,10p' "$stamped/$entry.ini" | tr -d '\r'
echo "(... the entry's $(($(wc -l <"$stamped/$entry.ini") - 10)) further lines)"
echo "=== lwtemplate stamp $entry.ini vpnsetup.exe $stamped/vpnsetup.exe"
build/linux/lwtemplate stamp "$stamped/$entry.ini" build/windows-x64/vpnsetup.exe \
  "$stamped/vpnsetup.exe"
fresh_phonebooks
show_run "stamped Windows run under wine64" scripts/wine-run "$stamped/vpnsetup.exe" "$@"
show_phonebook "$(wine_pbk)" "$stamped/rasphone.pbk"

echo
echo "=== The files"
echo "native:   $native/ (executable in bin/, phonebook under AppData/)"
echo "Windows:  $windows/ (executable, phonebook; the Wine prefix is $prefix)"
echo "stamped:  $stamped/ (template, stamped executable, phonebook)"
echo "build:    build/linux/, build/windows-x64/ (output in $log)"
