#!/usr/bin/env bash
# Import of 100,000 messages in slices of 10,000 with the command-line tool,
# natively and under Wine, each slice timed; then `check` of the full store both
# ways. Run by scripts/bench.sh (Wine's environment set, a display up). The
# native store is kept as build/bench-data/store-100k for the window benchmarks.
# BRIS_BENCH_WINE_IMPORT_S (default 1200) bounds the Wine import: slices stop
# once it is spent.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
data=$root/build/bench-data
mail=$data/mail
native=$root/build/native-bench/mailstore/cli/mailstore
windows=$root/build/windows/mailstore/cli/mailstore.exe
python3 "$root/bench/scale/make_mail.py" "$mail" 100000 10000

now() { date +%s.%N; }
secs() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

# import_slices LABEL STORE BOUND_S COMMAND...: prints one line per slice and
# leaves the slice times in `times`.
import_slices() {
  local label=$1 store=$2 bound=$3
  shift 3
  rm -rf "$store"
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
rm -rf "$data/store-wine"

start=$(now)
"$native" check "$data/store-100k" >/dev/null
native_check=$(secs "$start" "$(now)")
start=$(now)
wine "$windows" check "Z:$data/store-100k" >/dev/null 2>&1 </dev/null
wine_check=$(secs "$start" "$(now)")
awk -v n="$native_check" -v w="$wine_check" \
  'BEGIN { printf "check of 100,000: native %.2f s, wine %.2f s, wine/native %.2f\n", n, w, w / n }'
