#!/usr/bin/env bash
# 10,000 rows of the real window dragged with the mouse onto a drop target in
# another process (the end-to-end tests' own, which writes every file it
# receives): the time from its drop to the first file written and to the last,
# and the longest the window took meanwhile to answer another process's
# WM_NULL; beside the floor, the store's own copy of the same sources into
# .eml files (`mailstore export`, under Wine too). Run by scripts/bench.sh
# (Wine's environment set, a display up, the store server registered).
# The count may be given as the argument.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
count=${1:-10000}
win=$root/build/windows
native=$root/build/native-bench/mailstore/cli/mailstore
[ -x "$native" ] || native=$root/build/native/mailstore/cli/mailstore
work=$root/build/bench-data/drag-out
probe=$win/tests/e2e/bris_probe.exe
target=$win/tests/e2e/bris_droptarget.exe
if [ ! -x "$probe" ] || [ ! -x "$target" ]; then
  echo "drag out: needs bris_probe and bris_droptarget (build the e2e programs)"
  exit 0
fi
rm -rf "$work"
mkdir -p "$work/mail" "$work/out" "$work/export"
python3 - "$work/mail" "$count" <<'EOF'
import sys
for i in range(int(sys.argv[2])):
    body = "".join(f"Line {l} of message {i}.\r\n" for l in range(40))
    with open(f"{sys.argv[1]}/{i:06}.eml", "w", newline="") as f:
        f.write(f"From: Sender {i} <s{i}@example.org>\r\nTo: team@example.org\r\n"
                f"Subject: Drag {i}\r\nDate: Mon, 07 Dec 2026 10:00:00 +0000\r\n\r\n{body}")
EOF
"$native" init "$work/store" >/dev/null
"$native" import "$work/store" Inbox "$work/mail" >/dev/null
store=$(winepath -w "$work/store")

MAILSTORE_DIR=$store wine "$win/brisvander.exe" >"$work/app.log" 2>&1 &
app=$!
wine "$target" window "$(winepath -w "$work/out")" 1000 300 220 300 >"$work/target.log" 2>&1 &
drop=$!
stop() { kill "$drop" "$app" 2>/dev/null || true; }
trap stop EXIT
for _ in $(seq 1 60); do [ -s "$work/out/drops.log" ] && break; sleep 0.5; done
# Every row listed before the first click.
wine "$probe" ping 300 filled "$count" >/dev/null
# The list's place (reading every row would take the probe long): the first
# row lies below the column headers.
wine "$probe" look 60 Brisvander >"$work/look.txt"
read -r x y < <(awk -F'\t' '$1 == "client" { cx = $2; cy = $3 }
  $1 == "place" && $2 == "SysListView32" { print cx + $3 + 60, cy + $4 + 30 }' "$work/look.txt")

# Every row selected, then dragged from the first one onto the target.
xdotool mousemove "$x" "$y" click 1
sleep 0.5
xdotool key ctrl+a
sleep 1
xdotool mousemove "$x" "$y" mousedown 1
sleep 0.2
for i in 1 2 3; do xdotool mousemove $((x + 3 * i)) $((y + 2 * i)); sleep 0.05; done
for i in $(seq 1 12); do
  xdotool mousemove $((x + (1110 - x) * i / 12)) $((y + (450 - y) * i / 12))
  sleep 0.05
done
sleep 0.5
# Asks the window until the list has one row less, which comes after the drop.
wine "$probe" ping 1200 rows $((count - 1)) >"$work/ping.txt" 2>&1 &
ping=$!
sleep 1
xdotool mouseup 1
for _ in $(seq 1 2400); do
  [ "$(wc -l <"$work/out/drops.log")" -ge 2 ] && break
  sleep 0.5
done
"$native" delete "$work/store" Inbox 1 >/dev/null
wait "$ping" || true
read -r files failed first last < <(sed -n 2p "$work/out/drops.log")
longest=$(awk -F'\t' '{ for (i = 1; i < NF; ++i) if ($i == "longest") print $(i + 1) }' \
  "$work/ping.txt")
stop
trap - EXIT

start=$(date +%s%N)
wine "$win/mailstore/cli/mailstore.exe" export "$store" Inbox "$(winepath -w "$work/export")" \
  --format eml >/dev/null
floor=$((($(date +%s%N) - start) / 1000000))
exported=$(find "$work/export" -name '*.eml' | wc -l)

echo "rows dragged from the window onto another program's window (ms)"
printf "%8s %10s %10s %14s %8s\n" messages "1st file" "last file" "window answer" written
printf "%8s %10s %10s %14s %8s\n" "$count" "$first" "$last" "${longest:-?}" "$files"
printf "%8s %10s %10s %14s %8s\n" "floor" "" "$floor" "" "$exported"
echo "(floor: mailstore export of the same folder to .eml files under Wine, its start included)"
[ "$files" = "$count" ] && [ "$failed" = 0 ]
