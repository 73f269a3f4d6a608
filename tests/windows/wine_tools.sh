#!/usr/bin/env bash
# The Windows builds of the tools answer as the native ones: each case runs the native
# tool in one folder and the .exe under Wine in a twin folder, on the same files, and
# compares the exit status, standard output and standard error (paths of the two
# folders made alike, line ends too), then the files each left behind, byte for byte.
#
#   wine_tools.sh WINDOWS_BIN BUILD_ROOT
#
# The native tools are taken from BUILD_ROOT/release/bin or BUILD_ROOT/dev/bin; without
# them the check is skipped (status 77; a failure with VARMEX_NO_SKIP=1, as
# scripts/test.sh sets it) and says so. The full-disk cases need a small
# tmpfs (mounting needs root); without one they are named as not checked.
set -euo pipefail
win=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
wine_run=$root/scripts/wine-run.sh
# shellcheck source=scripts/wine-env.sh
source "$root/scripts/wine-env.sh"   # the loader and the prefix of the run
tools=(dens nredisp kedro-db gencollection mklnk convfurn cuvterti lsort fo2 mkhvoc)

native=
for dir in "$build/release/bin" "$build/dev/bin"; do
  missing=0
  for t in "${tools[@]}"; do [ -x "$dir/$t" ] || missing=1; done
  if [ "$missing" = 0 ]; then native=$dir; break; fi
done
if [ -z "$native" ]; then
  skip_test "no native build of the tools to compare with (build the dev or release preset)"
fi
for t in "${tools[@]}"; do [ -f "$win/$t.exe" ] || { echo "FAIL: $win/$t.exe missing" >&2; exit 1; }; done

unset VARMEX_STANDIN_LOG
scratch=$(mktemp -d "${TMPDIR:-/tmp}/varmex-wine-tools.XXXXXX")
small_n=$scratch/small-n
small_w=$scratch/small-w
cleanup() {
  umount "$small_n" 2>/dev/null || true
  umount "$small_w" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
n=$scratch/n
w=$scratch/w
mkdir -p "$n" "$w" "$scratch/out"

# The files: a block file of 20 blocks with five records of 304 bytes, one whose
# header says 2 blocks, one whose header says 2147483647, and a copy to re-spread.
"$native/gencollection" --fresh "$n" --lcalcdev-blocks 20 --prefman-blocks 9 >/dev/null
mv "$n/lcalcdev.dat" "$n/good.dat"
for k in K001 K002 K003 K004 K005; do
  "$native/kedro-db" --text put "$n/good.dat" "$k" "$(printf "$k%.0s" {1..75})" >/dev/null
done
patch_count() {  # FILE BYTES (the block count, little-endian, as printf escapes)
  printf "$2" | dd of="$1" bs=1 seek=18 conv=notrunc status=none
}
cp "$n/good.dat" "$n/two.dat" && patch_count "$n/two.dat" '\x02\x00\x00\x00'
cp "$n/good.dat" "$n/huge.dat" && patch_count "$n/huge.dat" '\xff\xff\xff\x7f'
cp "$n/good.dat" "$n/spread.dat"
mkdir "$n/folder"
cp -r "$n"/. "$w"/

failures=0
# A path to a folder of either run, in either spelling, becomes "@/" (a Windows path
# loses its whole folder part); CR LF becomes LF; a temporary file's random part goes.
normal() {
  sed -e 's/\r$//' -e "s#$scratch/[a-z-]*/#@/#g" -e 's#[A-Za-z]:\\\([^ ]*\\\)\{0,1\}#@/#g' \
      -e 's#\\#/#g' -e 's#\.nredisp-[a-z0-9]\{12\}#.nredisp-XXXXXXXXXXXX#g' "$1"
}
# check NAME TOOL ARG...: the tool run natively in $n and under Wine in $w.
check() {
  local name=$1 tool=$2
  shift 2
  local o=$scratch/out/$name sn=0 sw=0
  (cd "$n" && "$native/$tool" "$@") >"$o.n.out" 2>"$o.n.err" || sn=$?
  (cd "$w" && "$wine_run" "$win/$tool.exe" "$@") >"$o.w.out" 2>"$o.w.err" || sw=$?
  local bad=
  [ "$sn" = "$sw" ] || bad="exit status $sn natively, $sw under Wine"
  for s in out err; do
    if ! diff <(normal "$o.n.$s") <(normal "$o.w.$s") >"$o.diff"; then
      bad="${bad:+$bad; }standard $s differs: $(head -4 "$o.diff" | tr '\n' ' ')"
    fi
  done
  if [ -n "$bad" ]; then
    echo "FAIL $name ($tool $*): $bad"
    failures=$((failures + 1))
  else
    echo "ok   $name ($tool $*): exit $sn"
  fi
}

check dens-good dens good.dat
check dens-header-says-two dens two.dat
check dens-header-says-huge dens huge.dat
check dens-missing dens none.dat
check dens-folder dens folder
check dens-help dens --help
check dens-unknown-option dens --verbose good.dat
check dens-two-files dens good.dat good.dat
check dens-empty-name dens ""
check kdb-get kedro-db --text get good.dat K003
check kdb-get-missing-key kedro-db --text get good.dat K999
check kdb-info kedro-db info good.dat
check kdb-dump kedro-db --text dump good.dat
check kdb-verify kedro-db verify good.dat
check kdb-verify-two kedro-db verify two.dat
check kdb-verify-huge kedro-db verify huge.dat
check kdb-dump-huge kedro-db dump huge.dat
check kdb-put-two kedro-db --text put two.dat K009 x
check kdb-missing kedro-db info none.dat
check kdb-folder kedro-db info folder
check kdb-unknown-option kedro-db --frob info good.dat
check kdb-empty-name kedro-db info ""
check nredisp-good nredisp -o -d 60 spread.dat
check nredisp-beside nredisp -d 30 good.dat
check nredisp-header-says-two nredisp -o -d 60 two.dat
check nredisp-missing nredisp -o -d 60 none.dat
check nredisp-unknown-option nredisp --frob -d 60 good.dat
check nredisp-bad-count nredisp -o -d 1 good.dat
check nredisp-no-room nredisp -o -d 2 good.dat
check gencollection-split gencollection --split 500 col
check gencollection-seed gencollection --seed abc col
check gencollection-counts gencollection --lcalcdev-blocks 2147483647 --fresh fresh
check gencollection-run gencollection --version 36 --estimates 5 --bases 1 --seed 3 col
check mklnk-help mklnk -h
check mklnk-unknown-option mklnk -x
check mklnk-run mklnk -lA.lnk -ftarget.exe -iicon.ico
check mklnk-cannot-write mklnk -lA.lnk -ftarget.exe -wnone
check convfurn-run convfurn . .
check convfurn-cannot-write convfurn none .
check fo2-unknown-option fo2 -q
check lsort-operands lsort a
check mkhvoc-help mkhvoc -h

# What the two runs left behind, byte for byte.
if ! diff -r "$n" "$w" >"$scratch/out/tree.diff"; then
  echo "FAIL: the files left behind differ:"
  head -20 "$scratch/out/tree.diff"
  failures=$((failures + 1))
else
  echo "ok   the files left behind are the same"
fi

# A full disk: a block file re-spread on a drive too small for the new file.
mkdir -p "$small_n" "$small_w"
if mount -t tmpfs -o size=64k tmpfs "$small_n" 2>/dev/null &&
   mount -t tmpfs -o size=64k tmpfs "$small_w" 2>/dev/null; then
  cp "$n/good.dat" "$small_n/full.dat"
  cp "$n/good.dat" "$small_w/full.dat"
  o=$scratch/out/full
  sn=0 sw=0
  (cd "$small_n" && "$native/nredisp" -o -d 2000 full.dat) >"$o.n.out" 2>"$o.n.err" || sn=$?
  (cd "$small_w" && "$wine_run" "$win/nredisp.exe" -o -d 2000 full.dat) >"$o.w.out" 2>"$o.w.err" || sw=$?
  if [ "$sn" = 5 ] && [ "$sw" = 5 ] && diff <(normal "$o.n.err") <(normal "$o.w.err") >/dev/null &&
     cmp -s "$small_n/full.dat" "$n/good.dat" && cmp -s "$small_w/full.dat" "$n/good.dat" &&
     [ "$(ls "$small_n")" = full.dat ] && [ "$(ls "$small_w")" = full.dat ]; then
    echo "ok   nredisp on a full disk: exit 5, $(normal "$o.n.err" | head -1)"
  else
    echo "FAIL nredisp on a full disk: exit $sn natively, $sw under Wine"
    normal "$o.n.err"
    normal "$o.w.err"
    ls "$small_n" "$small_w"
    failures=$((failures + 1))
  fi
else
  echo "NOT CHECKED: nredisp on a full disk (no small tmpfs could be mounted here)"
fi

if [ "$failures" != 0 ]; then
  echo "$failures of the comparisons failed"
  exit 1
fi
echo "PASS: every Windows tool answers as the native one"
