#!/usr/bin/env bash
# Short fuzz runs: scripts/fuzz.sh [seconds] [in-memory seconds] [PE seconds].
# The INI document's two targets share the first number: the in-memory one gets the second
# (default three quarters of the first, 60), the file-based one the rest. The PE reader gets
# the third (default half the first). Builds build/fuzz with clang; the INI corpora start
# from tests/data/*.pbk, the PE reader's from the Windows builds' vpnsetup.exe if any.
set -euo pipefail
seconds=${1:-60}
memory=${2:-$((seconds * 3 / 4))}
files=$((seconds - memory))
pe=${3:-$((seconds / 2))}
if ((memory < 1 || files < 1 || pe < 1)); then
  echo "fuzz.sh: every target needs at least a second ($memory + $files, $pe)" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLINKWRIGHT_FUZZ=ON -DLINKWRIGHT_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target ini_fuzz ini_mem_fuzz pe_fuzz

run() {  # target, seconds, max input length, more options
  echo "=== $1, $2 s"
  "$build/fuzz/$1" -max_total_time="$2" -artifact_prefix="$build/$1-" -max_len="$3" \
    -print_final_stats=1 "${@:4}" "$build/corpus-$1"
}
for target in ini_mem_fuzz ini_fuzz; do
  mkdir -p "$build/corpus-$target"
  cp "$root"/tests/data/*.pbk "$build/corpus-$target/"
done
mkdir -p "$build/corpus-pe_fuzz"
for arch in x86 x64; do
  exe=$root/build/windows-$arch/vpnsetup.exe
  if [ -f "$exe" ]; then cp "$exe" "$build/corpus-pe_fuzz/vpnsetup-$arch.exe"; fi
done

# The in-memory target is tuned for executions: small inputs (the text form needs no more
# to show a fault), edges without hit counts, and the plain schedule, whose bookkeeping
# costs less than a run of the target here.
run ini_mem_fuzz "$memory" 512 -dict="$root/fuzz/ini.dict" -entropic=0 -use_counters=0
run ini_fuzz "$files" 65536
run pe_fuzz "$pe" 262144
