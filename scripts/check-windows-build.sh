#!/usr/bin/env bash
# Checks the 32-bit Windows build as files, without running it (MinGW's binutils):
#
#   check-windows-build.sh BIN_DIR
#
# Every .exe in BIN_DIR must be
# - a PE32 program for i386 (not PE32+, not another machine);
# - of the GUI subsystem if it is a windowed program (varmex-setup.exe, and the test
#   program show-choice-dialog.exe), of the console subsystem otherwise (the tools);
# - importing only from the system DLLs named in `allowed`: it needs no DLL of MinGW's
#   (libgcc, libstdc++, libwinpthread), being linked statically.
# varmex-setup.exe must carry the dialog resources 101 (partition), 107 (migration) and
# 102 (GRUPDEV choice). Each fault found is named on a line of its own; the status is 0
# only when there is none.
set -uo pipefail
bin=${1:?usage: check-windows-build.sh BIN_DIR}
objdump=${VARMEX_OBJDUMP:-i686-w64-mingw32-objdump}
allowed=(KERNEL32.dll USER32.dll GDI32.dll msvcrt.dll)
windowed=(varmex-setup.exe show-choice-dialog.exe)
dialogs=(101 107 102)

command -v "$objdump" >/dev/null || {
  echo "check-windows-build: $objdump is missing (package binutils-mingw-w64-i686)" >&2
  exit 1
}
faults=0
fault() { echo "FAULT: $*"; faults=$((faults + 1)); }
shopt -s nullglob
exes=("$bin"/*.exe)
[ -f "$bin/varmex-setup.exe" ] || fault "$bin/varmex-setup.exe is missing"

# The dialog IDs of a program's resources (type 5, RT_DIALOG), as decimal numbers, from
# objdump's dump of the resource directory: type entries sit three spaces deep, the
# names below them five.
dialog_ids() {
  "$objdump" -p "$1" | awk '
    /^[0-9a-f]+   Entry: ID: / { type = $4; sub(/,$/, "", type) }
    /^[0-9a-f]+     Entry: ID: / { if (type == "0x000005") { id = $4; sub(/,$/, "", id); print id } }' |
    while read -r id; do echo $((16#${id#0x})); done
}

for exe in "${exes[@]}"; do
  name=${exe##*/}
  header=$("$objdump" -f "$exe" 2>&1)
  private=$("$objdump" -p "$exe" 2>&1)
  if ! grep -q 'file format pei-i386$' <<<"$header" || ! grep -q '^architecture: i386,' <<<"$header"; then
    fault "$name: not a Windows program for i386 ($(tail -n 1 <<<"$header" | sed 's/^[^:]*: *//'))"
    continue
  fi
  grep -q '^Magic[[:space:]]*010b' <<<"$private" ||
    fault "$name: not PE32 ($(grep -m 1 '^Magic' <<<"$private" | tr -s '\t ' ' '))"

  subsystem=$(sed -n 's/^Subsystem[[:space:]]*[0-9a-f]*[[:space:]]*//p' <<<"$private")
  want="(Windows CUI)"
  [[ " ${windowed[*]} " == *" $name "* ]] && want="(Windows GUI)"
  [ "$subsystem" = "$want" ] || fault "$name: subsystem ${subsystem:-none}, $want expected"

  while read -r dll; do
    ok=0
    for a in "${allowed[@]}"; do [ "${dll,,}" = "${a,,}" ] && ok=1; done
    [ "$ok" = 1 ] && continue
    case ${dll,,} in
      libgcc*|libstdc++*|libwinpthread*|libssp*) fault "$name: needs MinGW's DLL $dll" ;;
      *) fault "$name: imports from $dll, which is not among ${allowed[*]}" ;;
    esac
  done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$private" | sort -u)
done

if [ -f "$bin/varmex-setup.exe" ]; then
  have=" $(dialog_ids "$bin/varmex-setup.exe" | tr '\n' ' ')"
  for id in "${dialogs[@]}"; do
    [[ "$have" == *" $id "* ]] || fault "varmex-setup.exe: no dialog resource $id"
  done
fi

if [ "$faults" -gt 0 ]; then
  echo "check-windows-build: $faults fault(s) in $bin" >&2
  exit 1
fi
echo "check-windows-build: ${#exes[@]} programs in $bin: PE32 for i386, subsystems as expected," \
  "imports only from ${allowed[*]}; varmex-setup.exe carries dialogs ${dialogs[*]}"
