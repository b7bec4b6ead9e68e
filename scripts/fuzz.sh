#!/usr/bin/env bash
# Short fuzz run of the INI document: scripts/fuzz.sh [seconds] [in-memory seconds].
# The in-memory target gets the second number (default three quarters of the first, 60),
# the file-based one the rest. Builds build/fuzz with clang; both corpora start from
# tests/data/*.pbk.
set -euo pipefail
seconds=${1:-60}
memory=${2:-$((seconds * 3 / 4))}
files=$((seconds - memory))
if ((memory < 1 || files < 1)); then
  echo "fuzz.sh: both targets need at least a second ($memory + $files)" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLINKWRIGHT_FUZZ=ON -DLINKWRIGHT_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target ini_fuzz ini_mem_fuzz

run() {  # target, seconds, max input length, more options
  mkdir -p "$build/corpus-$1"
  cp "$root"/tests/data/*.pbk "$build/corpus-$1/"
  echo "=== $1, $2 s"
  "$build/fuzz/$1" -max_total_time="$2" -artifact_prefix="$build/$1-" -max_len="$3" \
    -print_final_stats=1 "${@:4}" "$build/corpus-$1"
}
# The in-memory target is tuned for executions: small inputs (the text form needs no more
# to show a fault), edges without hit counts, and the plain schedule, whose bookkeeping
# costs less than a run of the target here.
run ini_mem_fuzz "$memory" 512 -dict="$root/fuzz/ini.dict" -entropic=0 -use_counters=0
run ini_fuzz "$files" 65536
