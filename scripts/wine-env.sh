# The Wine of a test run (sourced, not run): which loader starts the Windows programs
# and the one prefix the whole run shares.
#
# VARMEX_WINE_ARCH says which Windows build runs: win32 (the default: the 32-bit program
# customers get, under Debian's wine, which takes the 32-bit loader) or win64 (the
# 64-bit test build, under the 64-bit loader called directly, since Debian's wine takes
# the 32-bit one whenever wine32:i386 is installed). The test builds set it for their
# tests; scripts/windows-build.sh decides it for a whole run. A prefix made by one loader
# does not serve the other, so each has its own: build/wineprefix and build/wineprefix64
# (VARMEX_WINEPREFIX names another).
#
# Sets and exports WINEPREFIX, WINEDEBUG, WINEDLLOVERRIDES (and WINELOADER for win64);
# sets wine_loader to the command that starts a Windows program.
varmex_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
case ${VARMEX_WINE_ARCH:-win32} in
  win32)
    wine_loader=wine
    export WINEPREFIX=${VARMEX_WINEPREFIX:-$varmex_root/build/wineprefix} ;;
  win64)
    wine_loader=/usr/lib/wine/wine64
    export WINELOADER=$wine_loader
    export WINEPREFIX=${VARMEX_WINEPREFIX:-$varmex_root/build/wineprefix64} ;;
  *)
    echo "VARMEX_WINE_ARCH must be win32 or win64, not '$VARMEX_WINE_ARCH'" >&2
    exit 2 ;;
esac
export VARMEX_WINE_ARCH=${VARMEX_WINE_ARCH:-win32}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# wine_missing: one line for each piece of this Wine that is not installed, with its package.
wine_missing() {
  if [ "$VARMEX_WINE_ARCH" = win64 ]; then
    [ -x "$wine_loader" ] || echo "$wine_loader (package wine64)"
  else
    command -v wine >/dev/null || echo "wine (package wine)"
  fi
  command -v wineserver >/dev/null || echo "wineserver (package wine)"
}

# skip_test REASON: a Windows test that cannot run here is skipped (status 77, which
# CTest shows as skipped), or fails where the run must not leave any test out
# (VARMEX_NO_SKIP=1, as scripts/test.sh sets it).
skip_test() {
  if [ "${VARMEX_NO_SKIP:-0}" = 1 ]; then
    echo "FAIL: $1 (this run runs every Windows test: VARMEX_NO_SKIP=1)" >&2
    exit 1
  fi
  echo "SKIP: $1"
  exit 77
}
