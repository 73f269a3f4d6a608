#!/usr/bin/env bash
# The real dialogs of the Windows build under Wine on a virtual X display, driven with
# keys sent by xdotool and photographed in the order a user meets them:
#   1. the partition dialog (101), Esc: the run ends at once with status 0;
#   2. a whole migration with /prel /debug: Enter in 101 takes drive C, Enter answers
#      Yes to the question, the old collection's folder is typed into 107 and Enter
#      starts the migration; the GRUPDEV choice (102) comes up for the investment of 7
#      estimates: Enter and Esc leave it open with no answer, Tab Tab Space presses 1008;
#      the success message ends the run with status 0;
#   3. dialog 102 alone (show-choice-dialog.exe), whose exit status tells the answer:
#      Enter and Esc choose nothing, 1008 answers "one GRUPDEV for the whole investment".
# Screenshots, numbered in that order: 1-dialog-101, 2-question, 3-dialog-107 (before
# OK), 4-dialog-107-working (the status line showing a step), 5-dialog-102, 6-success.
#
#   wine_gui.sh BIN_DIR SCREENSHOT_DIR
#
# Exit status 77 (skipped) when no X server can be started here; a failure instead where
# the run must leave no test out (VARMEX_NO_SKIP=1, as scripts/test.sh sets it).
#
# Set-up that only Wine needs:
# - The prefix's fonts. The dialogs ask for 10-point "MS Sans Serif". Wine reads fonts
#   from the prefix's C:\windows\Fonts and from the system's fontconfig folders; its
#   own "MS Sans Serif" (sserife.fon, Debian package fonts-wine) is in neither, so a
#   new prefix draws the dialogs in DejaVu Sans, far wider, and labels wrap and are
#   cut. The test copies Wine's fonts into the prefix.
# - A session of its own. Programs of one prefix share a session (one wineserver) as
#   long as one of them runs or ended a moment ago, and the session's desktop keeps the
#   display driver it started with. A session started without a display (a new prefix
#   made by the other Wine tests, which run without one) has none: a program that
#   joins it cannot make a window ("no driver could be loaded"), and DialogBoxParamA
#   fails with error 1400 (invalid window handle). The test waits until the prefix's
#   session has ended before it starts its first program, so its programs get a new
#   session on the virtual display.
set -euo pipefail
bin=$(cd "$1" && pwd)
shots=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
wine_run=$root/scripts/wine-run.sh
# shellcheck source=scripts/wine-env.sh
source "$root/scripts/wine-env.sh"   # the loader and the prefix of the run
unset VARMEX_UI_SCRIPT
wine_fonts=/usr/share/wine/fonts

for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || skip_test "$tool is not installed"
done
[ -f "$wine_fonts/sserife.fon" ] || { echo "FAIL: Wine's fonts are missing (package fonts-wine)" >&2; exit 1; }
mkdir -p "$shots"
rm -f "$shots"/*.png
scratch=$(mktemp -d "${TMPDIR:-/tmp}/varmex-wine-gui.XXXXXX")
kedro=$WINEPREFIX/drive_c/kedro
old_drive=$WINEPREFIX/dosdevices/v:   # V: holds the old collection
xvfb_pid=
app_pid=
cleanup() {
  [ -z "$app_pid" ] || kill "$app_pid" 2>/dev/null || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  [ -L "$kedro" ] && rm -f "$kedro"
  rm -f "$old_drive"
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
[ -n "$xvfb_pid" ] || skip_test "no X server could be started"

"$wine_run" cmd /c exit 0 >/dev/null 2>&1 || true   # the prefix exists
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
cp "$wine_fonts"/*.fon "$wine_fonts"/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
wineserver -w   # no session of the prefix is left: ours starts with the display

fail() { echo "FAIL: $*" >&2; for t in "$scratch"/*.jsonl; do echo "--- $t" >&2; cat "$t" >&2 || true; done; exit 1; }
winpath() { echo "Z:${1//\//\\}"; }

start() {  # start PROGRAM ARGS...: runs it in the background with a transcript
  export VARMEX_UI_TRANSCRIPT
  VARMEX_UI_TRANSCRIPT=$(winpath "$scratch/$step.jsonl")
  (cd "$scratch" && exec timeout 300 "$wine_run" "$@") &
  app_pid=$!
}
find_window() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1 || true; }
visible() { xdotool search --onlyvisible --name '.' 2>/dev/null | grep -qx "$1"; }
window() {  # window CAPTION: the id of the window once it is on the screen
  local id=
  for _ in $(seq 120); do
    id=$(find_window "$1")
    [ -n "$id" ] && break
    kill -0 "$app_pid" 2>/dev/null || fail "$step: the program ended before \"$1\" appeared"
    sleep 0.5
  done
  [ -n "$id" ] || fail "$step: window \"$1\" did not appear"
  sleep 1   # let it paint
  echo "$id"
}
gone() {  # gone ID: the window has closed
  for _ in $(seq 40); do
    visible "$1" || return 0
    sleep 0.25
  done
  return 1
}
still_open() {  # still_open ID WHAT: after a moment the window is still there
  sleep 1.5
  visible "$1" || fail "$step: $2 closed the window"
}
shoot() { import -window "$1" "$shots/$2" || fail "screenshot $2"; }
finish() {  # finish STATUS: the program ends with STATUS
  local status=0
  wait "$app_pid" || status=$?
  app_pid=
  [ "$status" = "$1" ] || fail "$step: exit status $status, expected $1"
}
expect() { grep -qF -- "$1" "$scratch/$step.jsonl" || fail "$step: transcript lacks $1"; }
lacks() { ! grep -qF -- "$1" "$scratch/$step.jsonl" || fail "$step: transcript has $1"; }
events_until() {  # waits until the transcript holds TEXT
  for _ in $(seq 100); do grep -qF -- "$1" "$scratch/$step.jsonl" 2>/dev/null && return 0; sleep 0.2; done
  fail "$step: never saw $1"
}

install_caption="Instalare Varmex 38 ERP"
migration_caption="Instalare Varmex 37 ERP - Preluare date din versiunea precedenta"
choice_caption="Instalere KEDRO / Varmex 37 - generare GRUPDEV-uri"

step=escape
start "$bin/varmex-setup.exe"
w=$(window "$install_caption")
xdotool key Escape
finish 0
expect '{"event":"dialog-end","id":101,"result":2}'
expect '{"event":"exit","status":0}'
if grep -q '"event":"run"' "$scratch/$step.jsonl"; then fail "escape: a tool was run"; fi

# The new tree on drive C (the lowest drive, which Enter takes in dialog 101) and, in
# V:\Palunor, a version-36 collection with one investment of 7 estimates on two
# objects: with the /debug limits (5 and 10) it brings up dialog 102.
step=migration
[ -e "$kedro" ] && fail "C:\\kedro already exists in the prefix"
mkdir -p "$scratch/kedro/Varmex" "$scratch/kedro/ERP" "$scratch/v"
ln -s "$scratch/kedro" "$kedro"
ln -sfn "$scratch/v" "$old_drive"
"$wine_run" "$bin/gencollection.exe" --estimates 0 --investment 1:7:2:1 --bases 1 \
  --fresh "$(winpath "$scratch/kedro/Varmex")" "V:\\Palunor" >/dev/null ||
  fail "the collection was not generated"
start "$bin/varmex-setup.exe" /prel /debug
w=$(window "$install_caption")
shoot "$w" 1-dialog-101.png
xdotool key Return
events_until '{"event":"dialog-end","id":101,"result":1}'
w=$(window "$install_caption")   # the migration question has the same title
shoot "$w" 2-question.png
xdotool key Return
w=$(window "$migration_caption")
xdotool key Tab                   # from the first radio button to the folder field
xdotool type --delay 20 'V:\Palunor'
sleep 0.5
shoot "$w" 3-dialog-107.png
xdotool key Return
c=$(window "$choice_caption")
xdotool windowmove "$c" 0 0       # out of the way of 107's status line
sleep 1
shoot "$w" 4-dialog-107-working.png
shoot "$c" 5-dialog-102.png
xdotool key Return
still_open "$c" "Enter"
xdotool key Escape
still_open "$c" "Esc"
lacks '"event":"dialog-end","id":102'
xdotool key Tab Tab space         # 1009 -> 1007 -> 1008, pressed
gone "$c" || fail "$step: 1008 did not close dialog 102"
# Warnings may come before the closing message; each is acknowledged.
for _ in $(seq 60); do
  a=$(find_window "Atentie")
  if [ -n "$a" ]; then sleep 0.5; xdotool key Return; gone "$a" || true; continue; fi
  s=$(find_window "$install_caption")
  if [ -n "$s" ]; then sleep 1; shoot "$s" 6-success.png; xdotool key Return; break; fi
  sleep 0.5
done
finish 0
expect '{"event":"dialog-end","id":102,"result":1}'
expect '"text":"Instalare cu succes!","style":48,"answer":"ok"}'
expect '{"event":"dialog-end","id":107,"result":1}'
expect '{"event":"exit","status":0}'
[ -f "$shots/6-success.png" ] || fail "$step: the success message was not seen"

step=choice
start "$bin/show-choice-dialog.exe"
c=$(window "$choice_caption")
xdotool key Return
still_open "$c" "Enter"
xdotool key Escape
still_open "$c" "Esc"
xdotool key Tab Tab space
finish 10   # result 1, answer 0 (one GRUPDEV for the whole investment), nothing remembered
echo "PASS: screenshots in $shots"
