#!/usr/bin/env bash
# Builds and runs every benchmark: the host ones from the optimised native build,
# the Windows ones under Wine in a virtual display. Figures go to stdout.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

if [ -z "${BRIS_IN_XVFB:-}" ]; then
  cmake --preset native-bench >/dev/null
  cmake --build --preset native-bench
  cmake --preset windows >/dev/null
  cmake --build --preset windows
  exec env BRIS_IN_XVFB=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

shopt -s nullglob globstar
for b in build/native-bench/bench/**/bench_*; do
  [ -x "$b" ] && [ -f "$b" ] || continue
  echo "== $b"
  "$b" "$@"
done

source scripts/wine-env.sh
scripts/wine-prefix.sh
wineserver -p
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
scripts/register-store.sh build/windows
rc=0
echo "== bench/scale/bench_import.sh"
bench/scale/bench_import.sh || rc=$?
echo "== bench/ui/drag_out_window.sh"
bench/ui/drag_out_window.sh || rc=$?
# The Windows benchmarks at scale get the store just built natively, and fresh
# copies of it where they change it: building it under Wine would take longer
# than all of them.
data=$root/build/bench-data
# Nothing is deleted before the timings end: on ext4, creating files soon after
# deleting many is several times slower. Old copies go into the trash instead.
set_aside() {
  [ -e "$1" ] || return 0
  mkdir -p "$data/trash"
  mv "$1" "$data/trash/$(basename "$1").$(date +%s%N)"
}
if [ -f "$data/store-100k/snapshot.bin" ] || [ -f "$data/store-100k/journal.bin" ]; then
  set_aside "$data/store-open"
  cp -a "$data/store-100k" "$data/store-open"
  export BRIS_BENCH_STORE=$data/store-100k BRIS_BENCH_STORE_COPY=$data/store-open
fi
tool=build/native-bench/mailstore/cli/mailstore
for b in build/windows/bench/**/bench_*.exe; do
  echo "== $b"
  if [ "$(basename "$b")" = bench_store_burst.exe ] && [ $# -eq 0 ] && [ -n "${BRIS_BENCH_STORE:-}" ]; then
    # A fresh copy of the store built natively; the importer is the native tool.
    # Paths from the root, which Wine takes on drive Z: and the native tool as they are.
    set_aside "$data/store-burst" && cp -a "$BRIS_BENCH_STORE" "$data/store-burst"
    BENCH_STORE_DIR="$data/store-burst" BENCH_IMPORTER="$root/$tool" wine "$b" || rc=$?
    set_aside "$data/store-burst"
  else
    wine "$b" "$@" || rc=$?
  fi
done
# A terminal mail reader named in BRIS_BENCH_READER (a command line, {} for the
# Maildir) is timed beside the tool on the same mail.
if [ -n "${BRIS_BENCH_READER:-}" ]; then
  echo "== bench/scale/time_reader.sh ($BRIS_BENCH_READER)"
  bench/scale/time_reader.sh "$data/mail/maildir" || rc=$?
else
  echo "(no mail reader named in BRIS_BENCH_READER to time beside the tool)"
fi
wineserver -k || true
rm -rf "${data:?}/trash" build/bench-store-scale/trash
exit $rc
