#!/usr/bin/env bash
# Builds the libFuzzer targets of the table-file and XML record readers with
# clang and runs each for a bounded time (they never run as part of the
# tests). Inputs found to crash are written to BUILD/crashes/TARGET/; copy
# them into tests/fixtures/tables/fuzz/TARGET/ to keep them as regression
# cases (test_tables replays that folder).
#
# Usage: scripts/run-fuzz.sh [SECONDS_PER_TARGET] [BUILD_DIR]
#        (defaults: 60 seconds, build-fuzz)
# The same targets build inside CMake with -DMR4_FUZZ=ON and clang.
set -euo pipefail

seconds="${1:-60}"
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${2:-$top/build-fuzz}"
cxx="${CXX_FUZZ:-clang++}"
flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -I"$top")
sources=("$top"/tables/cell_text.cpp "$top"/tables/table.cpp
         "$top"/tables/table_catalogue.cpp "$top"/tables/xml_record.cpp
         "$top"/tests/fuzz/fuzz_error.cpp)

mkdir -p "$build"
status=0
for target in table_file xml_record; do
  exe="$build/fuzz_$target"
  "$cxx" "${flags[@]}" "$top/tests/fuzz/fuzz_$target.cpp" "${sources[@]}" -o "$exe"
  corpus="$build/corpus/$target"
  crashes="$build/crashes/$target"
  mkdir -p "$corpus" "$crashes"
  cp -n "$top"/tests/fixtures/tables/fuzz/"$target"/* "$corpus"/ 2>/dev/null || true
  echo "run-fuzz: $target for ${seconds}s"
  if ! "$exe" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
       -artifact_prefix="$crashes/" "$corpus" 2> "$build/$target.log"; then
    echo "run-fuzz: $target found a failing input (see $build/$target.log, $crashes/)"
    status=1
  fi
  tail -n 2 "$build/$target.log"
done
exit $status
