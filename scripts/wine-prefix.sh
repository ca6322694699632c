#!/usr/bin/env bash
# Creates the private Wine prefix once; later calls return at once.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/wine-env.sh"
[ -f "$WINEPREFIX/.bris-ready" ] && exit 0
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
[ -f "$WINEPREFIX/.bris-ready" ] && exit 0
echo "wine-prefix: creating $WINEPREFIX" >&2
wineboot -i >/dev/null 2>&1 || true
wineserver -w
[ -f "$WINEPREFIX/system.reg" ] || { echo "wine-prefix: wineboot failed" >&2; exit 1; }
if [ -n "${BRIS_DPI:-}" ]; then
  # Read by every program when it starts: the screen's pixels per inch.
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$BRIS_DPI" /f \
    </dev/null >/dev/null 2>&1
  wineserver -w
fi
touch "$WINEPREFIX/.bris-ready"
