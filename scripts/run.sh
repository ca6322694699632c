#!/usr/bin/env bash
# make run: registers the store server in the build's private Wine prefix,
# creates a demo store from resources/samples on first run, and starts the
# tool on it. Without a display it runs in a virtual one, saves a screenshot to
# build/windows/run-screenshot.png and closes the tool again.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BRIS_BUILD_DIR:-$root/build/windows}
if [ -z "${DISPLAY:-}" ]; then
  exec env BRIS_RUN_HEADLESS=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
source "$root/scripts/wine-env.sh"
"$root/scripts/wine-prefix.sh"
"$root/scripts/register-store.sh" "$build"

tool="$build/brisvander.exe"
cli=$(find "$build" -maxdepth 3 -name mailstore.exe -print -quit)
store="$build/demo-store"
ready="$build/demo-store.ready" # beside the store: its directory holds only store files

if [ ! -f "$ready" ]; then
  if [ -z "$cli" ]; then
    echo "run: mailstore.exe is not built; cannot create the demo store" >&2
    exit 1
  fi
  echo "run: creating the demo store in $store"
  rm -rf "$store"
  winstore=$(winepath -w "$store")
  wine "$cli" init "$winstore" </dev/null
  # The sample files and the Maildir beside them all go to the Inbox (their
  # README and the Maildir's tmp/ placeholder are skipped).
  wine "$cli" import --skip-other "$winstore" Inbox "$(winepath -w "$root/resources/samples")" </dev/null
  touch "$ready"
fi

# The server reads its directory from here (see mailstore/README.md).
wine reg add 'HKCU\Software\Brisvander\MailStore' /v Directory /t REG_SZ \
  /d "$(winepath -w "$store")" /f >/dev/null 2>&1

if [ ! -f "$tool" ]; then
  echo "run: $tool is not built" >&2
  exit 1
fi
if [ -z "${BRIS_RUN_HEADLESS:-}" ]; then
  exec wine "$tool"
fi
wine "$tool" </dev/null >/dev/null 2>&1 &
pid=$!
sleep "${BRIS_RUN_SECONDS:-8}"
xwd -root -silent | convert xwd:- "png:$build/run-screenshot.png"
echo "run: screenshot saved to $build/run-screenshot.png"
kill "$pid" 2>/dev/null || true
wineserver -k || true
