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
# The Windows benchmarks at scale get the store just built natively, and fresh
# copies of it where they change it: building it under Wine would take longer
# than all of them.
data=$root/build/bench-data
if [ -f "$data/store-100k/snapshot.bin" ] || [ -f "$data/store-100k/journal.bin" ]; then
  for copy in store-open store-burst; do
    rm -rf "${data:?}/$copy"
    cp -a "$data/store-100k" "$data/$copy"
  done
  export BRIS_BENCH_STORE=$data/store-100k BRIS_BENCH_STORE_COPY=$data/store-open
  export BRIS_BENCH_STORE_BURST=$data/store-burst BRIS_BENCH_BURST_MAIL=$data/mail/burst.mbox
fi
for b in build/windows/bench/**/bench_*.exe; do
  echo "== $b"
  wine "$b" "$@" || rc=$?
done
if command -v neomutt >/dev/null; then
  echo "(a mail reader is installed: its index of $data/mail/maildir can be timed beside)"
else
  echo "(no mail reader installed to time beside the tool)"
fi
wineserver -k || true
exit $rc
