#!/usr/bin/env bash
# Short fuzz runs: scripts/fuzz.sh [seconds] (default 60 for each target). Builds build/fuzz
# with clang. The INI document's corpus starts from tests/data/*.pbk; the PE reader's from
# the Windows builds' vpnsetup.exe when there are any.
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLINKWRIGHT_FUZZ=ON -DLINKWRIGHT_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target ini_fuzz pe_fuzz

mkdir -p "$build/corpus" "$build/pe-corpus"
cp "$root"/tests/data/*.pbk "$build/corpus/"
for arch in x86 x64; do
  exe=$root/build/windows-$arch/vpnsetup.exe
  if [ -f "$exe" ]; then cp "$exe" "$build/pe-corpus/vpnsetup-$arch.exe"; fi
done
"$build/fuzz/ini_fuzz" -max_total_time="$seconds" -artifact_prefix="$build/" -max_len=65536 \
  -print_final_stats=1 "$build/corpus"
"$build/fuzz/pe_fuzz" -max_total_time="$seconds" -artifact_prefix="$build/pe-" -max_len=262144 \
  -print_final_stats=1 "$build/pe-corpus"
