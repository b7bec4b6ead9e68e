#!/usr/bin/env bash
# Short fuzz run of the INI document: scripts/fuzz.sh [seconds] (default 60).
# Builds build/fuzz with clang and seeds the corpus from tests/data/*.pbk.
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLINKWRIGHT_FUZZ=ON -DLINKWRIGHT_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target ini_fuzz
mkdir -p "$build/corpus"
cp "$root"/tests/data/*.pbk "$build/corpus/"
"$build/fuzz/ini_fuzz" -max_total_time="$seconds" -artifact_prefix="$build/" -max_len=65536 -print_final_stats=1 \
  "$build/corpus"
