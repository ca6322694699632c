#!/usr/bin/env bash
# Builds the Windows packages from a Windows build: OUT/Brisvander-VERSION-x86.msi
# and .zip, both holding the programs, the DLL, the read-me and the licence.
# Usage: package.sh BUILD_DIR OUT_DIR [VERSION]; VERSION defaults to the build's
# project version (a test builds a later one to install over the first).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
version=${3:-$(sed -n 's/^#define BRIS_VERSION_TEXT "\(.*\)"$/\1/p' "$build/generated/BrisVersion.h")}
[ -n "$version" ] || { echo "package: no version in $build/generated/BrisVersion.h" >&2; exit 1; }
name="Brisvander-$version-x86"

stage="$out/$name.stage"
rm -rf "$stage"
mkdir -p "$stage"
trap 'rm -rf "$stage"' EXIT
# The debugging sections are most of each file; the packages go without them.
for f in brisvander.exe mailstore.dll mailstore/cli/mailstore.exe; do
  [ -f "$build/$f" ] || { echo "package: $build/$f not built" >&2; exit 1; }
  i686-w64-mingw32-strip -o "$stage/$(basename "$f")" "$build/$f"
done
# Windows line ends, for any text viewer there.
sed "s/@VERSION@/$version/; s/\$/\r/" "$root/packaging/README.txt" >"$stage/README.txt"
sed 's/$/\r/' "$root/LICENSE" >"$stage/LICENSE.txt"
cp "$build/resources/brisvander.ico" "$stage/"

rm -f "$out/$name.msi" "$out/$name.zip"
# wixl finds the sources relative to the current folder.
(cd "$stage" && wixl -a x86 -D Version="$version" -o "$out/$name.msi" \
  "$root/packaging/Brisvander.wxs")
# wixl cannot write component conditions: route the store's class only when no
# server is registered for it.
msibuild "$out/$name.msi" -q "UPDATE \`Component\` SET \`Condition\` = \
'NOT MACHINESTORE AND NOT USERSTORE' WHERE \`Component\` = 'StoreRoute'"

files=(brisvander.exe mailstore.dll mailstore.exe README.txt LICENSE.txt)
(cd "$stage" && cmake -E tar cf "$out/$name.zip" --format=zip "${files[@]}")
echo "package: $out/$name.msi"
echo "package: $out/$name.zip"
