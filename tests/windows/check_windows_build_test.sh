#!/usr/bin/env bash
# The file check of the 32-bit Windows build (scripts/check-windows-build.sh) passes the
# real build and names each fault of doctored copies of its programs:
#
#   check_windows_build_test.sh BIN_DIR
set -euo pipefail
bin=$(cd "$1" && pwd)
check=$(cd "$(dirname "$0")/../.." && pwd)/scripts/check-windows-build.sh
scratch=$(mktemp -d "${TMPDIR:-/tmp}/varmex-pe-check.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
failures=0

bash "$check" "$bin" >"$scratch/real.out" 2>&1 || {
  echo "FAIL: the real build does not pass:"; cat "$scratch/real.out"; failures=$((failures + 1))
}

# expect CASE TEXT...: the check of folder CASE fails and names every TEXT.
expect() {
  local case=$1; shift
  if bash "$check" "$scratch/$case" >"$scratch/$case.out" 2>&1; then
    echo "FAIL: $case: passed"; failures=$((failures + 1)); return
  fi
  for text in "$@"; do
    grep -qF -- "$text" "$scratch/$case.out" || {
      echo "FAIL: $case: no '$text' in:"; cat "$scratch/$case.out"; failures=$((failures + 1))
    }
  done
}
# Same-length byte replacement inside a copy of a program.
patch_bytes() { perl -0777 -pi -e "s/\\Q$2\\E/$3/g" "$1"; }

mkdir "$scratch/console-setup" "$scratch/mingw-dll" "$scratch/other-dll" "$scratch/amd64" \
  "$scratch/no-setup"
# A tool made to stand in for the setup program, its resources taken out.
i686-w64-mingw32-objcopy --remove-section=.rsrc "$bin/unrar.exe" "$scratch/console-setup/varmex-setup.exe"
expect console-setup "varmex-setup.exe: subsystem (Windows CUI), (Windows GUI) expected" \
  "varmex-setup.exe: no dialog resource 101" "no dialog resource 107" "no dialog resource 102"

cp "$bin/varmex-setup.exe" "$bin/dens.exe" "$scratch/mingw-dll/"
patch_bytes "$scratch/mingw-dll/dens.exe" 'KERNEL32.dll' 'libssp-0.dll'
expect mingw-dll "dens.exe: needs MinGW's DLL libssp-0.dll"

cp "$bin/varmex-setup.exe" "$scratch/other-dll/"
patch_bytes "$scratch/other-dll/varmex-setup.exe" 'GDI32.dll' 'WINMM.dll'
expect other-dll "varmex-setup.exe: imports from WINMM.dll, which is not among"

# The machine field of the PE header (i386, 0x014c) made AMD64's (0x8664).
cp "$bin/varmex-setup.exe" "$scratch/amd64/"
pe=$(od -An -t u4 -j 60 -N 4 "$bin/varmex-setup.exe" | tr -d ' ')
printf '\x64\x86' | dd of="$scratch/amd64/varmex-setup.exe" bs=1 seek=$((pe + 4)) conv=notrunc status=none
expect amd64 "varmex-setup.exe: not a Windows program for i386"

cp "$bin/dens.exe" "$scratch/no-setup/"
expect no-setup "varmex-setup.exe is missing"

if [ "$failures" -gt 0 ]; then echo "$failures failure(s)"; exit 1; fi
echo "the real build passes; 5 doctored builds fail, each fault named"
