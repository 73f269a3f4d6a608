#!/usr/bin/env bash
# Runs a Windows program under Wine in the one prefix shared by a whole test run.
# The prefix is created on first use (about 20 s) and reused afterwards.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${VARMEX_WINEPREFIX:-$here/build/wineprefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  # Two test programs may start at once: only one creates the prefix.
  ( flock 9; [ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1 || true ) 9>"$WINEPREFIX.lock"
fi
exec wine "$@"
