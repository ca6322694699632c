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

# The store burst's 100,000-message folder, built once by the native tool (under
# Wine that takes many minutes) and copied afresh for each run; only when the
# sizes are the default ones.
seed=build/bench-burst-seed
tool=build/native-bench/mailstore/cli/mailstore
if [ $# -eq 0 ] && [ ! -d "$seed/store" ] && [ -x "$tool" ]; then
  rm -rf "$seed" && mkdir -p "$seed"
  python3 - "$seed/base.mbox" <<'EOF'
import sys
with open(sys.argv[1], "w", newline="\n") as out:
    for i in range(100000):
        out.write("From sender@example.org Tue Mar  3 10:20:30 2026\n"
                  f"From: Sender {i % 97} <sender@example.org>\nTo: Reader <reader@example.org>\n"
                  f"Subject: Message number {i}\nDate: Tue, 03 Mar 2026 10:20:30 +0000\n\n"
                  f"Body of message {i}\n\n")
EOF
  "$tool" init "$seed/store.new" >/dev/null
  "$tool" import "$seed/store.new" Inbox "$seed/base.mbox" >/dev/null && mv "$seed/store.new" "$seed/store"
  rm -f "$seed/base.mbox"
fi

source scripts/wine-env.sh
scripts/wine-prefix.sh
wineserver -p
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
rc=0
for b in build/windows/bench/**/bench_*.exe; do
  echo "== $b"
  if [ "$(basename "$b")" = bench_store_burst.exe ] && [ $# -eq 0 ] && [ -d "$seed/store" ]; then
    rm -rf "$seed/run" && cp -r "$seed/store" "$seed/run"
    # Paths from the root, which Wine takes on drive Z: and the native tool as they are.
    BENCH_STORE_DIR="$root/$seed/run" BENCH_IMPORTER="$root/$tool" wine "$b" || rc=$?
    rm -rf "$seed/run"
  else
    wine "$b" "$@" || rc=$?
  fi
done
wineserver -k || true
exit $rc
