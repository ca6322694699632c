#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's private prefix
# (created on first use). Needs a display: run inside xvfb-run.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/wine-env.sh"
"$root/scripts/wine-prefix.sh"
exec wine "$@"
