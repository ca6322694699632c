# Sourced: the environment of the build tree's private Wine prefix.
_bris_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# BRIS_DPI (e.g. 144) picks a prefix of its own whose screen has that DPI.
export WINEPREFIX="${BRIS_WINEPREFIX:-$_bris_root/build/windows/wineprefix${BRIS_DPI:+-dpi$BRIS_DPI}}"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
# No browser or .NET runtime: their install prompts would stall a headless run.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=d}"
unset _bris_root
