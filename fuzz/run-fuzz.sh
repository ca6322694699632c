#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a fixed budget from the
# seed corpus. Usage: fuzz/run-fuzz.sh [BUILD_DIR] [SECONDS_PER_TARGET]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build/fuzz}
seconds=${2:-10}
if ! command -v clang++ >/dev/null; then
  echo "clang++ not found: fuzz targets skipped"
  exit 0
fi
cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 >/dev/null
for target in headers journal snapshot; do
  work="$build/corpus-$target"
  mkdir -p "$work"
  log="$build/fuzz-$target.log"
  if ! "$build/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$build/crash-$target-" "$work" "$root/fuzz/corpus/$target" >"$log" 2>&1; then
    tail -40 "$log"
    echo "fuzz_$target: FAILED (see $log)"
    exit 1
  fi
  runs=$(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}')
  echo "fuzz_$target: ${runs:-?} executions in ${seconds}s, no failure"
done
