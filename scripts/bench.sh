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
rc=0
for b in build/windows/bench/**/bench_*.exe; do
  echo "== $b"
  wine "$b" "$@" || rc=$?
done
wineserver -k || true
exit $rc
