#!/usr/bin/env bash
# The Windows demo: the native demo's installation and migration done by the Windows
# build under Wine, and proven equal to the native build's run on the same inputs.
#
#   demo-windows.sh [windows|windows64]
#
# The Windows build is the 32-bit program (preset windows) under the 32-bit Wine, or
# the 64-bit test build of the same sources (preset windows64) under the 64-bit Wine;
# without an argument, the one this machine can run (scripts/windows-build.sh), and a
# line says which and why.
#
# It builds that preset (and the release programs of the native run), generates
# one version-36 collection and writes two media of the same archives: one carrying
# the native tools, as scripts/demo.sh does, the other the Windows ones (mklnk.exe,
# dens.exe, nredisp.exe and the stand-ins convfurn.exe, cuvterti.exe, lsort.exe,
# fo2.exe, mkhvoc.exe). The native varmex-setup runs as the native demo runs it. The
# Windows varmex-setup.exe runs under Wine in the shared prefix (build/wineprefix, or
# build/wineprefix64 for the 64-bit build: scripts/wine-env.sh), with drive D: a link
# to a scratch folder and C:\Palunor a link to a copy of the same collection, answering
# from scripts/demo.script as the native demo does, on a virtual X display of its own
# (so that the Wine session it leaves in the prefix has a display driver, as the GUI
# test of the prefix needs). Its transcript is printed as a person reads it. Then both
# runs are compared: every file and folder of drive D (name, kind, read-only mark,
# bytes), the transcripts, the exit statuses (0 from both); and both copies of the old
# collection must be as generated. VARMEX_DEMO_ANSWERS names other answers for both
# runs (their statuses must then agree), VARMEX_DEMO_TIMEOUT the seconds the Windows
# program may take (300). A Windows run that could not start a tool the native run
# started (Wine's own failure now and then) is made again, at most three runs in all,
# each repeat shown. Status 0 only when all
# agree; otherwise each difference is named and the status is 1. Everything is kept in
# build/demo-windows/ (native/, windows/) for a look afterwards.
#
# What the comparison sets aside, and nothing else:
# - The tools' own programs carried on the medium (kedro\ERP\mklnk, convfurn, cuvterti,
#   lsort, fo2, mkhvoc; kedro\Varmex\dens, nredisp) are different builds: they are
#   compared by name only, the Windows name without its ".exe".
# - kedro\ERP\Varmex38.lnk, written by the stand-in shortcut maker, holds the paths the
#   maker was given. The native build hands a drive path to a child program as a POSIX
#   path (its drive D folder, "/" separators), the Windows build as D:\... . In that
#   one file of the native run, the drive D folder reads as "D:" and "/" as "\".
# Both runs use the same drive letters (C: for the old collection, D: for the new
# tree) and the same command texts, so the transcripts are compared byte for byte.
#
# Without Wine or Xvfb it names the missing package and ends with status 1 before any
# run. Works on a fresh Debian 12 machine as root (or with sudo), like scripts/demo.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
SECONDS=0

bash scripts/deps.sh demo-windows || echo "demo-windows: not every package could be installed" >&2
# shellcheck source=scripts/windows-build.sh
source scripts/windows-build.sh
preset=${1:-}
# How long varmex-setup.exe may take (a 32-bit Wine under user-mode emulation is slow).
setup_timeout=${VARMEX_DEMO_TIMEOUT:-300}
case $preset in
  windows) VARMEX_WINE_ARCH=win32 ;;
  windows64) VARMEX_WINE_ARCH=win64 ;;
  "")
    choose_windows_build
    preset=$windows_test_preset VARMEX_WINE_ARCH=$windows_test_wine
    echo "demo-windows: the Windows run is of preset $preset: $windows_test_why" ;;
  *) echo "usage: demo-windows.sh [windows|windows64]" >&2; exit 2 ;;
esac
export VARMEX_WINE_ARCH
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh
mapfile -t missing < <(wine_missing)
command -v Xvfb >/dev/null || missing+=("Xvfb (package xvfb)")
if [ ${#missing[@]} -gt 0 ]; then
  for m in "${missing[@]}"; do echo "demo-windows: missing: $m" >&2; done
  echo "demo-windows: nothing was run or compared" >&2
  exit 1
fi

# shellcheck source=scripts/demo-steps.sh
source scripts/demo-steps.sh

echo "== building (release and $preset presets)"
demo_build_release
cmake --preset "$preset" >/dev/null
tools=(mklnk dens nredisp convfurn cuvterti lsort fo2 mkhvoc)
targets=(varmex-setup unrar win-medium "${tools[@]}")
known=$(cmake --build "build/$preset" --target help)
absent=()
for t in "${targets[@]}"; do grep -q "^$t: " <<<"$known" || absent+=("$t.exe"); done
if [ ${#absent[@]} -gt 0 ]; then
  echo "demo-windows: the $preset preset builds no ${absent[*]}; nothing was run or compared" >&2
  exit 1
fi
cmake --build "build/$preset" -j 2 --target "${targets[@]}" >/dev/null
wbin=$root/build/$preset/bin

out=$root/build/demo-windows
nat=$out/native
win=$out/windows
drive_d=$WINEPREFIX/dosdevices/d:
palunor=$WINEPREFIX/drive_c/Palunor
xvfb_pid=

# A link of the prefix is ours when it points into $out (a run that was cut short may
# have left it); anything else there belongs to someone else and stays.
ours() { [ -L "$1" ] && case $(readlink "$1") in "$out"/*) true ;; *) false ;; esac; }
cleanup() {
  if ours "$drive_d"; then rm -f "$drive_d"; fi
  if ours "$palunor"; then rm -f "$palunor"; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

# The Windows run's drive D (empty) and its copy of the collection, laid out afresh.
fresh_windows_drives() {
  rm -rf "$win/D" "$win/Palunor" "$win/transcript.jsonl"
  mkdir -p "$win/D"
  cp -R "$out/collection/Palunor" "$win/Palunor"
}

rm -rf "$out"
mkdir -p "$nat/drives/C" "$nat/drives/D"
demo_collection "$out/collection/Palunor" "$out/fresh"
cp -R "$out/collection/Palunor" "$nat/drives/C/Palunor"
fresh_windows_drives
demo_medium "$nat/medium" "$demo_bin" "" "$out/fresh"
demo_medium "$win/medium" "$wbin" ".exe" "$out/fresh"

echo "== native run (drive D: $nat/drives/D)"
nat_status=0
demo_setup_native "$nat/drives" "$nat/medium" "$nat/transcript.jsonl" >"$nat/output.txt" 2>&1 ||
  nat_status=$?
echo "varmex-setup exit status: $nat_status"

echo "== Windows run under Wine (D: is $win/D, C:\\Palunor is $win/Palunor)"
for n in $(seq 91 130); do
  [ -e "/tmp/.X$n-lock" ] && continue
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
    export DISPLAY=":$n"
    break
  fi
  kill "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=
done
if [ -z "$xvfb_pid" ]; then
  echo "demo-windows: no virtual X display could be started (Xvfb); nothing was compared" >&2
  exit 1
fi
timeout 120 wineserver -w || true   # a session of the prefix that is still ending would have no display
# Can Wine start a Windows program here? Asked up to three times: a Wine that works
# still fails a start now and then (see the Windows run below).
wine_starts() {
  local try
  for try in 1 2 3; do
    "$root/scripts/wine-run.sh" "$wbin/win-medium.exe" --help >"$out/wine-check.txt" 2>&1 && return 0
    echo "demo-windows: win-medium.exe --help under Wine failed (try $try of 3); what Wine printed:"
    sed 's/^/  /' "$out/wine-check.txt"
    timeout 120 wineserver -w || true
  done
  return 1
}
if ! wine_starts; then
  if [ "$VARMEX_WINE_ARCH" = win64 ]; then
    echo "demo-windows: the 64-bit Wine cannot start the Windows programs here; nothing was compared" >&2
  else
    echo "demo-windows: Wine cannot start 32-bit Windows programs here (package wine32:i386, on a machine that runs 32-bit programs); nothing was compared" >&2
  fi
  exit 1
fi
for link in "$drive_d" "$palunor"; do
  if [ -e "$link" ] || [ -L "$link" ]; then
    if ! ours "$link"; then
      echo "demo-windows: $link is in use in the Wine prefix; the demo needs it for its own" \
        "drive D: and C:\\Palunor; nothing was compared" >&2
      exit 1
    fi
    rm -f "$link"
  fi
done
ln -s "$win/D" "$drive_d"
ln -s "$win/Palunor" "$palunor"
winpath() { echo "Z:${1//\//\\}"; }
# Wine now and then fails to start a child program: the new process dies before it is
# set up, and CreateProcess answers ERROR_INTERNAL_ERROR (1359) or the like. That is
# the emulator's failure, not the program's, so the whole Windows run is made again
# from a fresh drive D and collection, at most $attempts times; every repeat is shown
# with what Wine printed. A start failure the native run also had is no reason to
# repeat, and one left after the last attempt is compared and reported as any other
# difference.
attempts=3
attempt=1
while :; do
  win_status=0
  (
    cd "$win/medium" || exit 1
    VARMEX_UI_SCRIPT=$(winpath "$demo_answers") VARMEX_UI_TRANSCRIPT=$(winpath "$win/transcript.jsonl") \
      timeout "$setup_timeout" "$root/scripts/wine-run.sh" "$wbin/varmex-setup.exe"
  ) >"$win/output.txt" 2>&1 || win_status=$?
  timeout 120 wineserver -w || true
  if [ "$win_status" = 124 ]; then
    echo "demo-windows: varmex-setup.exe did not end within $setup_timeout s; nothing was compared" >&2
    exit 1
  fi
  if [ ! -f "$win/transcript.jsonl" ]; then
    echo "demo-windows: varmex-setup.exe (status $win_status) wrote no transcript; nothing was compared" >&2
    cat "$win/output.txt" >&2
    exit 1
  fi
  # Programs the Windows run could not start, on lines the native run did not write.
  unstarted=$(grep '"event":"run"' "$win/transcript.jsonl" | grep -v '"result":0[,}]' |
    grep -F -x -v -f "$nat/transcript.jsonl" || true)
  if [ -z "$unstarted" ] || [ "$attempt" -ge "$attempts" ]; then break; fi
  attempt=$((attempt + 1))
  echo "demo-windows: under Wine, varmex-setup.exe could not start a program the native run started:"
  printf '%s\n' "$unstarted" | sed 's/^/  /'
  if [ -s "$win/output.txt" ]; then
    echo "  what Wine printed (last lines):"
    tail -n 15 "$win/output.txt" | sed 's/^/    /'
  else
    echo "  Wine printed nothing"
  fi
  echo "demo-windows: the Windows run is made again from the start (attempt $attempt of $attempts)"
  fresh_windows_drives
done
kill "$xvfb_pid" 2>/dev/null || true
xvfb_pid=

echo
echo "== what happened under Wine (transcript: $win/transcript.jsonl)"
"$demo_bin/varmex-transcript" "$win/transcript.jsonl"
echo "varmex-setup.exe exit status: $win_status"

echo
echo "== comparison with the native run"
differences=0
differ() { echo "DIFFERENT: $*"; differences=$((differences + 1)); }

# One line per entry of a drive folder, sorted by name: "NAME<TAB>KIND MARK SHA-256".
# A tool's program is listed by its name without ".exe" and without its bytes; the
# shortcut file's bytes are taken as normalised (see the header).
listing() {
  local side=$1 dir=$2 path base kind mark sum
  (cd "$dir" && find . -mindepth 1 -print0) | while IFS= read -r -d '' path; do
    path=${path#./}
    base=${path##*/}
    if [ -L "$dir/$path" ]; then kind='link'; elif [ -d "$dir/$path" ]; then kind=folder
    elif [ -f "$dir/$path" ]; then kind='file'; else kind=other; fi
    if [ "$kind" != file ]; then printf '%s\t%s\n' "$path" "$kind"; continue; fi
    mark=$(stat -c %A "$dir/$path")
    [ "${mark:2:1}" = w ] && mark=writable || mark=read-only
    if [ "$side" = windows ] && [[ " ${tools[*]} " == *" ${base%.exe} "* ]] && [ "$base" != "${base%.exe}" ]; then
      printf '%s\t%s\n' "${path%.exe}" "tool program $mark"
    elif [ "$side" = native ] && [[ " ${tools[*]} " == *" $base "* ]]; then
      printf '%s\t%s\n' "$path" "tool program $mark"
    else
      sum=$(compared_bytes "$side" "$dir" "$path" | sha256sum)
      printf '%s\t%s\n' "$path" "file $mark ${sum%% *}"
    fi
  done | LC_ALL=C sort
}
shortcut=kedro/ERP/Varmex38.lnk
compared_bytes() {  # compared_bytes SIDE DIR PATH: the bytes compared for the file
  if [ "$1" = native ] && [ "$3" = "$shortcut" ]; then
    perl -pe 'BEGIN { $d = shift } s/\Q$d\E/D:\\/g; s{/}{\\}g' "$nat/drives/D/" "$2/$3"
  else
    cat "$2/$3"
  fi
}

parting() {  # parting PATH: how the bytes of the two runs' PATH differ
  local n w at
  n=$(compared_bytes native "$nat/drives/D" "$1" | wc -c)
  w=$(compared_bytes windows "$win/D" "$1" | wc -c)
  at=$(cmp <(compared_bytes native "$nat/drives/D" "$1") <(compared_bytes windows "$win/D" "$1") 2>&1 || true)
  case $at in
    *EOF*) at="alike up to byte ${at##*after byte }" ;;
    *"differ: byte "*) at=${at##*differ: byte }; at="first different byte ${at%%,*}" ;;
  esac
  echo "bytes differ ($n bytes native, $w bytes Windows; $at)"
}

listing native "$nat/drives/D" >"$out/native-listing.txt"
listing windows "$win/D" >"$out/windows-listing.txt"
while IFS=$'\t' read -r path n w; do
  if [ "$n" = - ]; then differ "$path: only in the Windows run ($w)"
  elif [ "$w" = - ]; then differ "$path: only in the native run ($n)"
  elif [ "$n" != "$w" ]; then
    case "$n|$w" in
      file*"|"file*)
        if [ "${n% *}" != "${w% *}" ]; then differ "$path: native $n, Windows $w"
        else differ "$path: $(parting "$path")"; fi ;;
      *) differ "$path: native $n, Windows $w" ;;
    esac
  fi
done < <(LC_ALL=C join -t $'\t' -a 1 -a 2 -e - -o 0,1.2,2.2 "$out/native-listing.txt" "$out/windows-listing.txt")
files=$(grep -c $'\tfile ' "$out/native-listing.txt" || true)
programs=$(grep -c $'\ttool program' "$out/native-listing.txt" || true)
folders=$(grep -c $'\tfolder$' "$out/native-listing.txt" || true)
echo "drive D: $files files compared byte for byte, $programs tool programs by name, $folders folders"

if cmp -s "$nat/transcript.jsonl" "$win/transcript.jsonl"; then
  echo "transcript: $(wc -l <"$nat/transcript.jsonl") lines, byte for byte"
else
  differ "the transcripts (< native, > Windows):"
  diff "$nat/transcript.jsonl" "$win/transcript.jsonl" | head -40 || true
fi
if [ "$nat_status" != "$win_status" ]; then
  differ "exit status: native $nat_status, Windows $win_status"
elif [ -z "${VARMEX_DEMO_ANSWERS:-}" ] && [ "$nat_status" != 0 ]; then
  differ "exit status: $nat_status in both runs (0 expected from the demo's answers)"
else
  echo "exit status: $nat_status in both runs"
fi
collection=$(listing native "$out/collection/Palunor")
kept=0
for copy in "$nat/drives/C/Palunor" "$win/Palunor"; do
  if [ "$(listing native "$copy")" = "$collection" ]; then kept=$((kept + 1))
  else differ "the old collection in $copy was modified"; fi
done
[ "$kept" != 2 ] || echo "old collection (C:\\Palunor): as generated, after both runs"

echo
echo "== $((SECONDS / 60)) min $((SECONDS % 60)) s"
if [ "$differences" -gt 0 ]; then
  echo "demo-windows: $differences difference(s) between the Windows and the native run" >&2
  exit 1
fi
if [ -n "${VARMEX_DEMO_ANSWERS:-}" ]; then
  echo "demo-windows: the Windows run did exactly what the native run did, answered from $VARMEX_DEMO_ANSWERS"
else
  echo "demo-windows: the Windows run installed and migrated exactly what the native run did"
fi
