#!/usr/bin/env bash
# Runs the Windows test programs under Wine inside a virtual X display. One
# wineserver stays up for the whole run so each program starts quickly.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [ -z "${DISPLAY:-}" ] || [ -z "${BRIS_IN_XVFB:-}" ]; then
  exec env BRIS_IN_XVFB=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
source "$root/scripts/wine-env.sh"
"$root/scripts/wine-prefix.sh"
wineserver -p
# Start Wine's own background processes now, detached from ctest's pipes: started
# by the first test instead, they would hold its output open and stall ctest.
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
# The store server's tests reach it through the registry: register this build's.
if [ -f "${BRIS_BUILD_DIR:-$root/build/windows}/mailstore.dll" ]; then
  "$root/scripts/register-store.sh" "${BRIS_BUILD_DIR:-$root/build/windows}"
fi
rc=0
if [ -n "${BRIS_BUILD_DIR:-}" ]; then
  ctest --test-dir "$BRIS_BUILD_DIR" --output-on-failure --timeout 600 "$@" || rc=$?
else
  ctest --preset windows "$@" || rc=$?
fi
wineserver -k || true
exit $rc
