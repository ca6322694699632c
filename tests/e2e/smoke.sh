#!/usr/bin/env bash
# Starts the program under Wine as a user would, reads its log from outside,
# saves a screenshot, closes the window and checks that the program ends.
# Arguments: brisvander.exe probe.exe output-directory
set -euo pipefail
exe=$1 probe=$2 out=$3
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
[ -n "${DISPLAY:-}" ] || { echo "smoke: needs a display (run through scripts/test-windows.sh)"; exit 1; }
[ -n "${WINEPREFIX:-}" ] || source "$root/scripts/wine-env.sh"
mkdir -p "$out"
rm -rf "$out/brisvander.png" "$out/log.txt" "$out/store" "$out/missing"
# Where a registered store server keeps its files: a fresh, empty folder per
# run, made by the user, in which the program makes a store.
mkdir -p "$out/store"
store_dir=$(winepath -w "$out/store" 2>/dev/null)

# First a store folder that does not exist: it is not created, and the log
# names it after the start-up error.
export MAILSTORE_DIR=$(winepath -w "$out/missing/store" 2>/dev/null)
wine "$exe" >"$out/missing.wine.log" 2>&1 </dev/null &
app=$!
trap 'kill "$app" 2>/dev/null || true' EXIT
wine "$probe" log 60 >"$out/missing-log.txt" 2>"$out/probe.err" </dev/null || { cat "$out/probe.err"; exit 1; }
wine "$probe" close 20 </dev/null || exit 1
wait "$app" || { echo "smoke: the program ended with status $? on a missing store"; exit 1; }
trap - EXIT
mapfile -t lines < <(tr -d '\r' <"$out/missing-log.txt")
echo "missing store: ${lines[*]:-}"
[ "${lines[0]:-}" = "ERROR: Can't initialize StoreNamespace" ] \
  || { echo "smoke: a missing store folder did not fail the start"; exit 1; }
case "${lines[1]:-}" in
  *"$MAILSTORE_DIR"*) ;;
  *) echo "smoke: the second line does not name the store folder"; exit 1 ;;
esac
[ ! -e "$out/missing" ] || { echo "smoke: the missing store folder was created"; exit 1; }

export MAILSTORE_DIR=$store_dir

wine "$exe" >"$out/brisvander.wine.log" 2>&1 </dev/null &
app=$!
stop_app() { kill "$app" 2>/dev/null || true; }
trap stop_app EXIT

if ! wine "$probe" log 60 >"$out/log.txt" 2>"$out/probe.err" </dev/null; then
  cat "$out/probe.err"; exit 1
fi
mapfile -t lines < <(tr -d '\r' <"$out/log.txt")
echo "log: ${lines[*]:-}"

# The first line decides which start the log must show, and then all of it.
case "${lines[0]:-}" in
  "ERROR: Can't create StoreNamespace")
    [ "$(cat "$out/log.txt")" = $'ERROR: Can\'t create StoreNamespace\r' ] \
      || { echo "smoke: more than the one start-up error in the log"; exit 1; } ;;
  "PATH OF MAIL MESSAGE STORE:")
    [ "${#lines[@]}" -ge 3 ] && [ -z "${lines[2]}" ] \
      || { echo "smoke: the store path is not followed by an empty line"; exit 1; }
    [ "${lines[1],,}" = "${store_dir,,}" ] \
      || { echo "smoke: the log names another store than $store_dir"; exit 1; } ;;
  *)
    echo "smoke: unexpected first log line"; exit 1 ;;
esac

import -window root "$out/brisvander.png"
[ -s "$out/brisvander.png" ] || { echo "smoke: no screenshot"; exit 1; }

wine "$probe" close 20 </dev/null || exit 1
for _ in $(seq 100); do
  kill -0 "$app" 2>/dev/null || break
  sleep 0.2
done
if kill -0 "$app" 2>/dev/null; then
  echo "smoke: the program kept running after its window closed"; exit 1
fi
trap - EXIT
wait "$app" || { echo "smoke: the program ended with status $?"; exit 1; }
echo "smoke: ok, screenshot $out/brisvander.png"
