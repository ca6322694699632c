#!/usr/bin/env bash
# Registers the build's mailstore.dll in the private Wine prefix (machine-wide,
# as Wine only looks there). Usage: register-store.sh [BUILD_DIR]. Quick; safe to
# repeat. Needs a display only if Wine has to create the prefix first.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build/windows}
dll="$build/mailstore.dll"
source "$root/scripts/wine-env.sh"
"$root/scripts/wine-prefix.sh"
if [ ! -f "$dll" ]; then
  echo "register-store: $dll not built" >&2
  exit 1
fi
if ! wine regsvr32 /s "$(winepath -w "$dll")" </dev/null >/dev/null 2>&1; then
  echo "register-store: regsvr32 failed for $dll" >&2
  exit 1
fi
