#!/usr/bin/env bash
# End-to-end runs of the Windows setup program under Wine, with answer scripts, the
# Windows-built stand-ins (unrar.exe for stored archives, mklnk.exe) and a Wine drive
# letter pointed at a scratch folder.
#
#   wine_e2e.sh CASE BIN_DIR
#
# CASE: full      a first installation from a complete medium, migration declined
#       damaged   erp.rar damaged: the test of step one stops the run, nothing written
#       nodir     a file named kedro in the drive root: the tree cannot be created
#       nodialog  no window system and no script: the partition dialog cannot be made;
#                 its message names the error code and the run ends with status 0 (nothing was changed)
#
# Uses the one Wine prefix of the test run (scripts/wine-run.sh creates it once).
set -euo pipefail
case_name=$1
bin=$(cd "$2" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
wine_run=$root/scripts/wine-run.sh
# shellcheck source=scripts/wine-env.sh
source "$root/scripts/wine-env.sh"   # the loader and the prefix of the run

# One drive letter per case, so cases may run side by side in one prefix.
case $case_name in
  full) letter=m ;;
  damaged) letter=n ;;
  nodir) letter=o ;;
  nodialog) letter=p ;;
  *) echo "unknown case $case_name" >&2; exit 2 ;;
esac
LETTER=${letter^^}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/varmex-wine-$case_name.XXXXXX")
cleanup() {
  rm -f "$WINEPREFIX/dosdevices/$letter:"
  rm -rf "$scratch"
}
trap cleanup EXIT
mkdir -p "$scratch/medium" "$scratch/drive"

# The prefix is made on first use; make sure it exists before a drive is added to it.
"$wine_run" cmd /c exit 0 >/dev/null 2>&1 || true
ln -sfn "$scratch/drive" "$WINEPREFIX/dosdevices/$letter:"

fail() { echo "FAIL ($case_name): $*" >&2; echo "--- transcript" >&2; cat "$scratch/transcript.jsonl" >&2 || true; exit 1; }
expect_line() { grep -qF -- "$1" "$scratch/transcript.jsonl" || fail "transcript lacks: $1"; }
winpath() { echo "Z:${1//\//\\}"; }

medium_args=()
[ "$case_name" = damaged ] && medium_args+=(--damage erp.rar)
(cd "$scratch/medium" && "$wine_run" "$bin/win-medium.exe" "$(winpath "$scratch/medium")" \
   --add erp.rar "mklnk.exe=$(winpath "$bin/mklnk.exe")" "${medium_args[@]}") || fail "medium not written"

cat > "$scratch/script.txt" <<SCRIPT
dialog 101
select 1002 $LETTER
click 1
answer no
SCRIPT
[ "$case_name" = nodir ] && : > "$scratch/drive/kedro"

run_setup() {
  # A hang must fail the test, not the whole run: Wine's start is slow, so be generous.
  (cd "$scratch/medium" && timeout 180 "$wine_run" "$bin/varmex-setup.exe") && status=0 || status=$?
}

export VARMEX_UI_TRANSCRIPT
VARMEX_UI_TRANSCRIPT=$(winpath "$scratch/transcript.jsonl")
if [ "$case_name" = nodialog ]; then
  unset VARMEX_UI_SCRIPT
  DISPLAY= run_setup
else
  export VARMEX_UI_SCRIPT
  VARMEX_UI_SCRIPT=$(winpath "$scratch/script.txt")
  run_setup
fi
[ "$status" != 124 ] || fail "the program hung"

case $case_name in
  full)
    [ "$status" = 0 ] || fail "exit status $status, expected 0"
    expect_line '{"event":"dialog-end","id":101,"result":1}'
    expect_line "{\"event\":\"run\",\"command\":\"unrar e -y erp.rar $LETTER:\\\\kedro\\\\ERP\",\"result\":0,\"exit\":0}"
    expect_line "{\"event\":\"run\",\"command\":\"$LETTER:\\\\kedro\\\\ERP\\\\mklnk.exe -lVarmex38.lnk -f$LETTER:\\\\kedro\\\\ERP\\\\menuerp.exe -w$LETTER:\\\\kedro\\\\ERP\\\\ -i$LETTER:\\\\kedro\\\\ERP\\\\Palunor.ico\",\"result\":0}"
    expect_line '"text":"Instalare cu succes!","style":48,"answer":"ok"}'
    expect_line '{"event":"exit","status":0}'
    d=$scratch/drive/kedro
    for f in Varmex/Varmex38.txt Varmex/devprog.exe Varmex/varmdat.txt Varmex/bfur.txt \
             Varmex/tutorial/imagini/schita1.txt ERP/menuerp.exe ERP/anga.dat ERP/Varmex38.lnk \
             Rasvent/rasvent.exe Rasvent/FileGen/plcont.dat Quovar/quovar.exe Bentak/bentak.exe; do
      [ -f "$d/$f" ] || fail "missing $f"
    done
    grep -q 'Varmex 38: read me' "$d/Varmex/Varmex38.txt" || fail "Varmex38.txt has wrong contents"
    # "e" drops the archive's folders; the shortcut names the installed menu program.
    [ ! -e "$d/Varmex/bin" ] || fail "folder of an e archive was kept"
    grep -qF "target=$LETTER:\\kedro\\ERP\\menuerp.exe" "$d/ERP/Varmex38.lnk" || fail "shortcut target"
    ;;
  damaged)
    [ "$status" = 1 ] || fail "exit status $status, expected 1"
    expect_line '{"event":"run","command":"unrar t erp.rar","result":0,"exit":3}'
    expect_line "\"title\":\"Eroare\",\"text\":\"Arhiva erp.rar este alterata ('unrar t' retcode= 3)!\\nPentru a continua instalarea e necesara inlocuirea acestei arhive.\\nPuteti descarca aceasta arhiva de pe site-ul "
    expect_line '{"event":"exit","status":1}'
    if grep -q 'unrar t bentak.rar' "$scratch/transcript.jsonl"; then fail "went on after the damaged archive"; fi
    [ -z "$(ls -A "$scratch/drive")" ] || fail "something was written to the drive"
    ;;
  nodir)
    [ "$status" = 1 ] || fail "exit status $status, expected 1"
    expect_line "\"title\":\"Eroare\",\"text\":\"Nu poate fi creat directorul $LETTER:\\\\kedro (exista un fisier cu acest nume)!\",\"style\":266288"
    expect_line '{"event":"exit","status":1}'
    if grep -q 'unrar e' "$scratch/transcript.jsonl"; then fail "unpacked without its directory"; fi
    ;;
  nodialog)
    [ "$status" = 0 ] || fail "exit status $status, expected 0"
    grep -qE '"title":"Eroare","text":"Eroare \( *[0-9]+\) in DialogBox \(instalare 1\)!","style":266288' \
      "$scratch/transcript.jsonl" || fail "no dialog error message"
    expect_line '{"event":"exit","status":0}'
    if grep -q '"event":"run"' "$scratch/transcript.jsonl"; then fail "ran a tool without a drive"; fi
    ;;
esac
[ -z "${VARMEX_E2E_VERBOSE:-}" ] || cat "$scratch/transcript.jsonl"
echo "PASS ($case_name)"
