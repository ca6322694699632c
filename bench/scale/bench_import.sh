#!/usr/bin/env bash
# Import of 100,000 messages in slices of 10,000 with the command-line tool,
# natively and under Wine, each slice timed; then `check` of the full store both
# ways; then the platform's own cost of the same file work (file_floor, natively
# and under Wine, 10,000 and 100,000 files), with every Wine-to-native ratio side
# by side. Run by scripts/bench.sh (Wine's environment set, a display up). The
# native store is kept as build/bench-data/store-100k for the window benchmarks.
# BRIS_BENCH_WINE_IMPORT_S (default 1200) bounds the Wine import: slices stop
# once it is spent. Old stores are moved into build/bench-data/trash, which
# scripts/bench.sh empties after every timing: on ext4, creating files soon
# after deleting many is several times slower, which would penalise whichever
# run came next.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
data=$root/build/bench-data
mail=$data/mail
native=$root/build/native-bench/mailstore/cli/mailstore
windows=$root/build/windows/mailstore/cli/mailstore.exe
trash=$data/trash
python3 "$root/bench/scale/make_mail.py" "$mail" 100000 10000

now() { date +%s.%N; }
set_aside() { # moves a directory out of the way without deleting anything now
  [ -e "$1" ] || return 0
  mkdir -p "$trash"
  mv "$1" "$trash/$(basename "$1").$(date +%s%N)"
}
secs() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

# import_slices LABEL STORE BOUND_S COMMAND...: prints one line per slice and
# leaves the slice times in `times`.
import_slices() {
  local label=$1 store=$2 bound=$3
  shift 3
  set_aside "$store"
  "$@" init "$(path_for "$label" "$store")" >/dev/null 2>&1 </dev/null
  times=()
  local start total=0
  for slice in "$mail"/slice-*.mbox; do
    start=$(now)
    "$@" import "$(path_for "$label" "$store")" Inbox "$(path_for "$label" "$slice")" \
      >/dev/null 2>&1 </dev/null
    times+=("$(secs "$start" "$(now)")")
    total=$(awk -v t="$total" -v s="${times[-1]}" 'BEGIN { print t + s }')
    if awk -v t="$total" -v b="$bound" 'BEGIN { exit !(t > b) }'; then
      echo "  ($label import stopped after ${#times[@]} slices: ${total} s spent)"
      break
    fi
  done
}

path_for() { if [ "$1" = wine ]; then echo "Z:$2"; else echo "$2"; fi; }

sum_to() { # sum of the first N entries of the named array
  local -n arr=$1
  local n=$2 s=0
  for ((i = 0; i < n && i < ${#arr[@]}; i++)); do s=$(awk -v a="$s" -v b="${arr[i]}" 'BEGIN { print a + b }'); done
  echo "$s"
}

echo "import of 100,000 messages, 10,000 per run of the command-line tool (s; messages/s)"
import_slices native "$data/store-100k" 100000 "$native"
native_times=("${times[@]}")
import_slices wine "$data/store-wine" "${BRIS_BENCH_WINE_IMPORT_S:-1200}" wine "$windows"
wine_times=("${times[@]}")
printf "%10s %10s %10s %10s %10s %8s\n" "messages" "native s" "native/s" "wine s" "wine/s" "ratio"
for ((i = 0; i < ${#native_times[@]}; i++)); do
  n=${native_times[i]}
  w=${wine_times[i]:-}
  if [ -n "$w" ]; then
    awk -v m=$(((i + 1) * 10000)) -v n="$n" -v w="$w" \
      'BEGIN { printf "%10d %10.2f %10.0f %10.2f %10.0f %8.2f\n", m, n, 10000 / n, w, 10000 / w, w / n }'
  else
    awk -v m=$(((i + 1) * 10000)) -v n="$n" \
      'BEGIN { printf "%10d %10.2f %10.0f %10s %10s %8s\n", m, n, 10000 / n, "-", "-", "-" }'
  fi
done
for count in 1 5 10; do
  if ((${#wine_times[@]} >= count)); then
    n=$(sum_to native_times $count)
    w=$(sum_to wine_times $count)
    awk -v m=$((count * 10000)) -v n="$n" -v w="$w" \
      'BEGIN { printf "import to %d: native %.1f s, wine %.1f s, wine/native %.2f\n", m, n, w, w / n }'
  fi
done
if ((${#wine_times[@]} >= 2)); then
  awk -v f="${wine_times[0]}" -v l="${wine_times[-1]}" -v k=${#wine_times[@]} \
    'BEGIN { printf "wine rate, last slice against first: %.2f (slice %d)\n", f / l, k }'
fi
set_aside "$data/store-wine"

start=$(now)
"$native" check "$data/store-100k" >/dev/null
native_check=$(secs "$start" "$(now)")
start=$(now)
wine "$windows" check "Z:$data/store-100k" >/dev/null 2>&1 </dev/null
wine_check=$(secs "$start" "$(now)")
awk -v n="$native_check" -v w="$wine_check" \
  'BEGIN { printf "check of 100,000: native %.2f s, wine %.2f s, wine/native %.2f\n", n, w, w / n }'

# The platform's floor: the same file work without the store, each side into a
# directory of its own.
floor_native=$root/build/native-bench/bench/scale/file_floor
floor_windows=$root/build/windows/bench/scale/file_floor.exe
declare -A floor
for count in 10000 100000; do
  for side in native wine; do
    dir=$data/floor-$side-$count
    set_aside "$dir"
    if [ $side = native ]; then
      line=$("$floor_native" "$dir" $count </dev/null)
    else
      line=$(wine "$floor_windows" "Z:$dir" $count 2>/dev/null </dev/null | tr -d '\r')
    fi
    floor[$side-$count-write]=$(awk '{ print $4 }' <<<"$line")
    floor[$side-$count-read]=$(awk '{ print $6 }' <<<"$line")
    set_aside "$dir"
  done
  awk -v m=$count -v nw="${floor[native-$count-write]}" -v ww="${floor[wine-$count-write]}" \
    -v nr="${floor[native-$count-read]}" -v wr="${floor[wine-$count-read]}" 'BEGIN {
      printf "platform floor, %d files: create/write/flush/close native %.2f s (%.0f us/file), wine %.2f s (%.0f us/file); open/size/read/close native %.2f s (%.0f us/file), wine %.2f s (%.0f us/file)\n",
        m, nw, nw / m * 1e6, ww, ww / m * 1e6, nr, nr / m * 1e6, wr, wr / m * 1e6 }'
done
ratio() { awk -v n="$1" -v w="$2" 'BEGIN { if (n > 0 && w != "") printf "%.2f", w / n; else printf "-" }'; }
last=${#wine_times[@]}
echo "wine/native: the store beside the platform's floor for the same files"
printf "  %-28s %8s %8s\n" "" "store" "floor"
printf "  %-28s %8s %8s\n" "import 10,000" "$(ratio "${native_times[0]}" "${wine_times[0]:-}")" \
  "$(ratio "${floor[native-10000-write]}" "${floor[wine-10000-write]}")"
printf "  %-28s %8s %8s\n" "import to $((last * 10000))" \
  "$(ratio "$(sum_to native_times "$last")" "$(sum_to wine_times "$last")")" \
  "$(ratio "${floor[native-100000-write]}" "${floor[wine-100000-write]}")"
printf "  %-28s %8s %8s\n" "check of 100,000" "$(ratio "$native_check" "$wine_check")" \
  "$(ratio "${floor[native-100000-read]}" "${floor[wine-100000-read]}")"
