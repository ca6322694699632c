#!/usr/bin/env bash
# Import with the command-line tool in slices of 10,000 messages, natively and
# under Wine, each slice beside the platform's own cost of the same file work
# (file_floor continuing its own directory by the same 10,000 files), taken in
# turn slice by slice so every ratio is read against a floor measured under the
# same load; then `check` of the full store both ways beside the floor's reads.
# Run by scripts/bench.sh (Wine's environment set, a display up).
# BRIS_BENCH_IMPORT_COUNT (default 100000, a multiple of 10,000) sets how many;
# at 100,000 the native store is kept as build/bench-data/store-100k for the
# window benchmarks. BRIS_BENCH_WINE_IMPORT_S (default 1200) bounds the Wine
# import: its slices stop once it is spent. Old stores are moved into
# build/bench-data/trash, which scripts/bench.sh empties after every timing: on
# ext4, creating files soon after deleting many is several times slower, which
# would penalise whichever run came next.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
data=$root/build/bench-data
mail=$data/mail
native=$root/build/native-bench/mailstore/cli/mailstore
windows=$root/build/windows/mailstore/cli/mailstore.exe
floor_native=$root/build/native-bench/bench/scale/file_floor
floor_windows=$root/build/windows/bench/scale/file_floor.exe
trash=$data/trash
count=${BRIS_BENCH_IMPORT_COUNT:-100000}
if ((count < 10000 || count > 100000 || count % 10000 != 0)); then
  echo "BRIS_BENCH_IMPORT_COUNT must be a multiple of 10,000 up to 100,000" >&2
  exit 2
fi
slices=$((count / 10000))
python3 "$root/bench/scale/make_mail.py" "$mail" 100000 10000

now() { date +%s.%N; }
set_aside() { # moves a directory out of the way without deleting anything now
  [ -e "$1" ] || return 0
  mkdir -p "$trash"
  mv "$1" "$trash/$(basename "$1").$(date +%s%N)"
}
secs() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }
load() { cut -d' ' -f1-3 /proc/loadavg; }
sum() { awk '{ for (i = 1; i <= NF; i++) s += $i } END { printf "%.2f", s }' <<<"$*"; }
two() { if [ -n "$1" ]; then printf "%.2f" "$1"; else printf -- "-"; fi; }
ratio() { awk -v n="$1" -v w="$2" 'BEGIN { if (n > 0 && w != "") printf "%.2f", w / n; else printf "-" }'; }

# store_slice SIDE STORE SLICE: imports one slice, prints its seconds.
store_slice() {
  local start
  start=$(now)
  if [ "$1" = native ]; then
    "$native" import "$2" Inbox "$mail/slice-$3.mbox" >/dev/null 2>&1 </dev/null
  else
    wine "$windows" import "Z:$2" Inbox "Z:$mail/slice-$3.mbox" >/dev/null 2>&1 </dev/null
  fi
  secs "$start" "$(now)"
}

# floor_slice SIDE DIR FIRST: the same file work for 10,000 files from FIRST on;
# prints "WRITE READ" seconds.
floor_slice() {
  local line
  if [ "$1" = native ]; then
    line=$("$floor_native" "$2" 10000 "$3" </dev/null)
  else
    line=$(wine "$floor_windows" "Z:$2" 10000 "$3" 2>/dev/null </dev/null | tr -d '\r')
  fi
  awk '{ print $4, $6 }' <<<"$line"
}

store_native=$data/store-native-$count
[ "$count" = 100000 ] && store_native=$data/store-100k
store_wine=$data/store-wine
for d in "$store_native" "$store_wine" "$data/floor-native" "$data/floor-wine"; do set_aside "$d"; done
"$native" init "$store_native" >/dev/null 2>&1 </dev/null
wine "$windows" init "Z:$store_wine" >/dev/null 2>&1 </dev/null

echo "import of $count messages, 10,000 per run of the command-line tool, each slice"
echo "beside file_floor's next 10,000 files (s); load average at start: $(load)"
printf "%9s %9s %9s %9s %9s %8s %8s %8s\n" messages store floor store floor "store" "floor" "store/"
printf "%9s %9s %9s %9s %9s %8s %8s %8s\n" "" native native wine wine "w/n" "w/n" "floor"
sn=() fn=() sw=() fw=() rn=() rw=()
wine_spent=0
for ((i = 0; i < slices; i++)); do
  slice=$(printf "%02d" $i)
  first=$((i * 10000 + 1))
  sn+=("$(store_slice native "$store_native" "$slice")")
  read -r w r <<<"$(floor_slice native "$data/floor-native" $first)"
  fn+=("$w") rn+=("$r")
  if awk -v t="$wine_spent" -v b="${BRIS_BENCH_WINE_IMPORT_S:-1200}" 'BEGIN { exit !(t <= b) }'; then
    sw+=("$(store_slice wine "$store_wine" "$slice")")
    wine_spent=$(sum "$wine_spent" "${sw[-1]}")
    read -r w r <<<"$(floor_slice wine "$data/floor-wine" $first)"
    fw+=("$w") rw+=("$r")
  fi
  n=${sn[i]} f=${fn[i]} w=${sw[i]:-} g=${fw[i]:-}
  printf "%9d %9.2f %9.2f %9s %9s %8s %8s %8s\n" $(((i + 1) * 10000)) "$n" "$f" "$(two "$w")" "$(two "$g")" \
    "$(ratio "$n" "$w")" "$(ratio "$f" "$g")" \
    "$(awk -v n="$n" -v f="$f" -v w="$w" -v g="$g" \
      'BEGIN { if (w != "" && g > 0 && n > 0) printf "%.2f", (w / n) / (g / f); else printf "-" }')"
done
done_wine=${#sw[@]}
echo "load average at end: $(load)"
if ((done_wine < slices)); then
  echo "  (Wine import stopped after $done_wine slices: ${wine_spent} s spent)"
fi
if ((done_wine > 0)); then
  n=$(sum "${sn[@]:0:done_wine}") f=$(sum "${fn[@]:0:done_wine}")
  w=$(sum "${sw[@]}") g=$(sum "${fw[@]}")
  echo "import to $((done_wine * 10000)): store native $n s, wine $w s (wine/native $(ratio "$n" "$w"));" \
    "floor native $f s, wine $g s (wine/native $(ratio "$f" "$g")); store ratio against floor ratio" \
    "$(awk -v n="$n" -v f="$f" -v w="$w" -v g="$g" 'BEGIN { printf "%.2f", (w / n) / (g / f) }')"
fi
if ((done_wine >= 2)); then
  # Flat: no later slice slower than the first, for the store and the floor alike.
  awk -v s="${sw[*]}" -v f="${fw[*]}" 'BEGIN {
    ns = split(s, a, " "); split(f, b, " "); k = 1; fk = 1
    for (i = 2; i <= ns; i++) { if (a[i] > a[k]) k = i; if (b[i] > b[fk]) fk = i }
    printf "wine, slowest slice against the first: store %.2f (slice %d), floor %.2f (slice %d)\n",
      (k > 1 ? a[k] / a[1] : 1), k, (fk > 1 ? b[fk] / b[1] : 1), fk }'
fi
set_aside "$store_wine"

start=$(now)
"$native" check "$store_native" >/dev/null
native_check=$(secs "$start" "$(now)")
start=$(now)
wine "$windows" check "Z:$store_native" >/dev/null 2>&1 </dev/null
wine_check=$(secs "$start" "$(now)")
if ((done_wine == slices)); then
  nr=$(sum "${rn[@]}") wr=$(sum "${rw[@]}")
  echo "check of $count: native $native_check s, wine $wine_check s (wine/native" \
    "$(ratio "$native_check" "$wine_check")); the floor's reads of the same files: native $nr s," \
    "wine $wr s (wine/native $(ratio "$nr" "$wr"))"
else
  echo "check of $count: native $native_check s, wine $wine_check s (wine/native" \
    "$(ratio "$native_check" "$wine_check"))"
fi
set_aside "$data/floor-native"
set_aside "$data/floor-wine"
[ "$count" = 100000 ] || set_aside "$store_native"
