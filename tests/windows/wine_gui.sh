#!/usr/bin/env bash
# The real dialogs of the Windows build under Wine on a virtual X display, driven with
# keys sent by xdotool, each one photographed:
#   1. the partition dialog (101), Esc: the run ends at once with status 0;
#   2. with /prel: Enter takes the lowest drive, Enter answers Yes to the migration
#      question, the migration dialog (107) opens, Esc closes it: status 0, nothing done;
#   3. the GRUPDEV choice dialog (102) with its real procedure: Esc leaves it open,
#      Space ticks "same answer", Tab Tab Space presses 1008.
#
#   wine_gui.sh BIN_DIR SCREENSHOT_DIR
#
# Exit status 77 (skipped) when no X server can be started here.
set -euo pipefail
bin=$(cd "$1" && pwd)
shots=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
wine_run=$root/scripts/wine-run.sh
export WINEPREFIX=${VARMEX_WINEPREFIX:-$root/build/wineprefix}
export WINEDEBUG=-all
unset VARMEX_UI_SCRIPT

for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
mkdir -p "$shots"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/varmex-wine-gui.XXXXXX")
xvfb_pid=
app_pid=
cleanup() {
  [ -z "$app_pid" ] || kill "$app_pid" 2>/dev/null || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

# A display number nobody uses.
for n in $(seq 91 120); do
  [ -e "/tmp/.X$n-lock" ] && continue
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
  if xdotool getmouselocation >/dev/null 2>&1; then break; fi
  kill "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=
done
[ -n "$xvfb_pid" ] || { echo "SKIP: no X server could be started"; exit 77; }

"$wine_run" cmd /c exit 0 >/dev/null 2>&1 || true   # the prefix exists before the clock runs

fail() { echo "FAIL: $*" >&2; for t in "$scratch"/*.jsonl; do echo "--- $t" >&2; cat "$t" >&2 || true; done; exit 1; }
winpath() { echo "Z:${1//\//\\}"; }

start() {  # start PROGRAM ARGS...: runs it in the background with a transcript
  export VARMEX_UI_TRANSCRIPT
  VARMEX_UI_TRANSCRIPT=$(winpath "$scratch/$step.jsonl")
  (cd "$scratch" && exec timeout 300 "$wine_run" "$@") &
  app_pid=$!
}
window() {  # window CAPTION: the id of the window once it is on the screen
  local id
  # The first window of a run can take long: Wine sets up its display driver and
  # fonts for a new prefix, on a machine that may be busy.
  id=$(timeout 180 xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null | head -1) || true
  [ -n "$id" ] || fail "window \"$1\" did not appear"
  sleep 1   # let it paint
  echo "$id"
}
shoot() { import -window "$1" "$shots/$2" || fail "screenshot $2"; }
finish() {  # finish STATUS: the program ends with STATUS
  local status=0
  wait "$app_pid" || status=$?
  app_pid=
  [ "$status" = "$1" ] || fail "$step: exit status $status, expected $1"
}
expect() { grep -qF -- "$1" "$scratch/$step.jsonl" || fail "$step: transcript lacks $1"; }
events_until() {  # waits until the transcript holds TEXT
  for _ in $(seq 100); do grep -qF -- "$1" "$scratch/$step.jsonl" 2>/dev/null && return 0; sleep 0.2; done
  fail "$step: never saw $1"
}

# Warm-up: in a new prefix the first window Wine makes can fail (error 1400) while its
# display driver starts. One throw-away run, closed as soon as its window shows (or
# ended by that error), gets past it; its outcome is not judged.
step=warmup
start "$bin/varmex-setup.exe"
for _ in $(seq 180); do
  kill -0 "$app_pid" 2>/dev/null || break
  if [ -n "$(xdotool search --onlyvisible --name '^Instalare Varmex 38 ERP$' 2>/dev/null | head -1)" ]; then
    sleep 1
    xdotool key Escape
  fi
  sleep 1
done
kill "$app_pid" 2>/dev/null || true
wait "$app_pid" 2>/dev/null || true
app_pid=

step=escape
start "$bin/varmex-setup.exe"
w=$(window "Instalare Varmex 38 ERP")
shoot "$w" dialog-101.png
xdotool key Escape
finish 0
expect '{"event":"dialog-end","id":101,"result":2}'
expect '{"event":"exit","status":0}'
if grep -q '"event":"run"' "$scratch/$step.jsonl"; then fail "escape: a tool was run"; fi

step=migration
start "$bin/varmex-setup.exe" /prel
w=$(window "Instalare Varmex 38 ERP")
xdotool key Return
events_until '{"event":"dialog-end","id":101,"result":1}'
w=$(window "Instalare Varmex 38 ERP")   # the migration question has the same title
shoot "$w" question.png
xdotool key Return
w=$(window "Instalare Varmex 37 ERP - Preluare date din versiunea precedenta")
shoot "$w" dialog-107.png
xdotool key Escape
finish 0
expect '"style":36,"answer":"yes"}'
expect '{"event":"dialog-end","id":107,"result":2}'
expect '{"event":"exit","status":0}'

step=choice
start "$bin/show-choice-dialog.exe"
w=$(window "Instalere KEDRO / Varmex 37 - generare GRUPDEV-uri")
shoot "$w" dialog-102.png
xdotool key Escape
sleep 1
kill -0 "$app_pid" 2>/dev/null || fail "choice: Esc closed the dialog"
xdotool key space Tab Tab space
finish 110
echo "PASS: screenshots in $shots"
