#!/usr/bin/env bash
# The Windows mailstore.exe under Wine imports 1,000 messages while a native
# mailstore imports one message after another into the same store: every
# message of both must be there and check must find the store sound.
set -euo pipefail
win_exe=$1
native=$2
[ -x "$native" ] || { echo "no native mailstore at $native (make test builds it first)"; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/w"
for i in $(seq 1000); do printf 'Subject: w %d\r\n\r\nbody\r\n' "$i" >"$tmp/w/$i.eml"; done
printf 'Subject: n\r\n\r\nbody\r\n' >"$tmp/n.eml"
"$native" init "$tmp/store" >/dev/null
"$native" import --create "$tmp/store" N "$tmp/n.eml" >/dev/null
"$native" import --create "$tmp/store" W "$tmp/n.eml" >/dev/null
wine "$win_exe" import "Z:$tmp/store" W "Z:$tmp/w" >"$tmp/wine.log" 2>&1 &
pw=$!
native_count=1
while kill -0 "$pw" 2>/dev/null; do
  "$native" import "$tmp/store" N "$tmp/n.eml" >>"$tmp/native.log" 2>&1 || { cat "$tmp/native.log"; exit 1; }
  native_count=$((native_count + 1))
done
wait "$pw" || { cat "$tmp/wine.log"; exit 1; }
folders=$("$native" folders "$tmp/store")
echo "$folders" | grep -E "^(N|W) "
echo "$folders" | grep -Eq "^N +#6 +$native_count messages" || { echo "native: expected $native_count"; exit 1; }
echo "$folders" | grep -Eq "^W +#7 +1001 messages" || { echo "windows: expected 1001"; exit 1; }
[ "$native_count" -gt 5 ] || { echo "the native writer must have written while Wine did"; exit 1; }
"$native" check "$tmp/store"
