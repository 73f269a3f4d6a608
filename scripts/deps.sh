#!/usr/bin/env bash
# Installs the Debian packages a command needs (as root, or with sudo):
#
#   deps.sh demo           the native release build and the demo (no Wine, no MinGW)
#   deps.sh demo-windows   the demo's, the MinGW-w64 cross compilers and Wine
#   deps.sh test           everything the tests use (the default)
#   deps.sh win32          the Windows demo's, the 32-bit Wine and, where 32-bit
#                          programs cannot run, qemu-user (scripts/smoke-win32.sh)
#
# The 32-bit Wine (wine32:i386) is wanted only on a machine that runs 32-bit programs
# (scripts/windows-build.sh finds out); where it cannot be installed, the Windows tests
# run on the 64-bit test build, and one line says why. A package index that cannot be
# fetched (a mirror in the middle of a sync) is retried a few times, then named in one
# line; the script goes on while the packages it needs can still be installed, and
# fails naming the package and apt's reason when one cannot.
# Quiet and idempotent: a second run installs nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
what=${1:-test}
# A test run has installed everything already; the scripts it runs need not ask again.
if [ "${VARMEX_DEPS_DONE:-}" = test ]; then exit 0; fi

native=(cmake ninja-build g++ libgtest-dev googletest libgmock-dev libbenchmark-dev
  libarchive-dev libgdbm-dev libsqlite3-dev)
windows=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686 g++-mingw-w64-x86-64-posix
  binutils-mingw-w64-x86-64 mingw-w64-tools wine wine64 fonts-wine xvfb)
tests=(clang clang-format clang-tidy xdotool imagemagick unrar-free gcovr libclang-rt-14-dev)
case $what in
  demo) packages=("${native[@]}") ;;
  demo-windows) packages=("${native[@]}" "${windows[@]}") ;;
  test) packages=("${native[@]}" "${windows[@]}" "${tests[@]}") ;;
  win32) packages=("${native[@]}" "${windows[@]}" wine32:i386) ;;
  *) echo "usage: deps.sh [demo|demo-windows|test|win32]" >&2; exit 2 ;;
esac
optional=()
if [ "$what" != demo ]; then
  # shellcheck source=scripts/windows-build.sh
  source scripts/windows-build.sh
  if [ "$what" = win32 ]; then
    if [ "${VARMEX_SMOKE_EMULATE:-0}" = 1 ] || ! runs_32bit_programs; then packages+=(qemu-user); fi
  elif runs_32bit_programs; then
    optional=(wine32:i386)
  fi
fi

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing=() missing_optional=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
for p in "${optional[@]}"; do installed "$p" || missing_optional+=("$p"); done
if [ ${#missing[@]} -eq 0 ] && [ ${#missing_optional[@]} -eq 0 ]; then exit 0; fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
log=$(mktemp "${TMPDIR:-/tmp}/varmex-deps.XXXXXX")
trap 'rm -f "$log"' EXIT

if [[ " ${missing[*]} ${missing_optional[*]} " == *":i386 "* ]]; then $SUDO dpkg --add-architecture i386; fi

# The package lists: an index that fails is fetched again up to three times, a few
# seconds apart; what still fails is named, and the lists that came are used.
failed=""
for attempt in 1 2 3 4; do
  $SUDO apt-get update -q >"$log" 2>&1 || true
  failed=$(sed -n 's/^E: Failed to fetch \([^ ]*\).*/\1/p' "$log" | sort -u | tr '\n' ' ')
  [ -z "$failed" ] && break
  [ "$attempt" -lt 4 ] && sleep $((attempt * 5))
done
if [ -n "$failed" ]; then
  reason=$(sed -n 's/^E: Failed to fetch [^ ]*  *//p' "$log" | head -n 1 | sed 's/ *\[IP:[^]]*\]//')
  echo "deps: package index not fetched after 4 tries, going on without it: ${failed% }${reason:+ ($reason)}" >&2
fi

# apt's reason in one line: its error lines and the first dependencies it could not meet.
apt_reason() {
  grep -E '^ *[^ ]+ : (Pre)?Depends: |^E: ' "$log" | head -n 2 | sed 's/^ *//' | paste -sd ';' |
    sed 's/;/; /g'
}
# Waits for a lock held by another apt (a fresh machine may be upgrading itself).
install() { $SUDO apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=300 "$@" >"$log" 2>&1; }

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if ! install "${missing[@]}"; then
    # One at a time, to name each package that cannot be installed and why.
    status=0
    for p in "${missing[@]}"; do
      installed "$p" && continue
      if ! install "$p"; then
        echo "deps: cannot install $p: $(apt_reason)" >&2
        status=1
      fi
    done
    [ "$status" = 0 ] || exit 1
  fi
fi
if [ ${#missing_optional[@]} -gt 0 ]; then
  echo "Installing: ${missing_optional[*]}"
  if ! install "${missing_optional[@]}"; then
    echo "deps: the 32-bit Wine cannot be installed here (${missing_optional[*]}: $(apt_reason));" \
      "the Windows tests and demo will use the 64-bit test build" >&2
  fi
fi
