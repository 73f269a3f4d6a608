#!/usr/bin/env bash
# Runs a Windows program under Wine in the one prefix shared by a whole test run (the
# loader and the prefix: scripts/wine-env.sh). The prefix is created on first use
# (about 20 s) and reused afterwards.
set -euo pipefail
# shellcheck source=scripts/wine-env.sh
source "$(dirname "$0")/wine-env.sh"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  # Two test programs may start at once: only one creates the prefix.
  ( flock 9; [ -f "$WINEPREFIX/system.reg" ] || "$wine_loader" wineboot -i >/dev/null 2>&1 || true ) 9>"$WINEPREFIX.lock"
fi
exec "$wine_loader" "$@"
