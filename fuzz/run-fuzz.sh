#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a fixed budget from the
# seed corpus: a time, or with RUNS a number of executions (`make fuzz`).
# Usage: fuzz/run-fuzz.sh [BUILD_DIR] [SECONDS_PER_TARGET] [RUNS] [TARGET...]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build/fuzz}
seconds=${2:-10}
runs=${3:-0}
shift $(($# < 3 ? $# : 3))
targets=${*:-headers mime journal snapshot intent mbox maildir exportnames cli recover refresh comstream comtext comrecords}
if ! command -v clang++ >/dev/null; then
  echo "clang++ not found: fuzz targets skipped"
  exit 0
fi
cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 >/dev/null
if [ "$runs" -gt 0 ]; then
  budget=(-runs="$runs")
  what="$runs runs"
else
  budget=(-max_total_time="$seconds")
  what="${seconds}s"
fi
for target in $targets; do
  work="$build/corpus-$target"
  mkdir -p "$work"
  log="$build/fuzz-$target.log"
  if ! "$build/fuzz_$target" "${budget[@]}" -print_final_stats=1 \
      -artifact_prefix="$build/crash-$target-" "$work" "$root/fuzz/corpus/$target" >"$log" 2>&1; then
    tail -40 "$log"
    echo "fuzz_$target: FAILED (see $log)"
    exit 1
  fi
  done=$(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}')
  secs=$(grep -m1 'Done [0-9]* runs in' "$log" | sed 's/.* in \([0-9]*\) second.*/\1/')
  echo "fuzz_$target: ${done:-?} executions (budget $what, took ${secs:-?}s), no failure"
done
