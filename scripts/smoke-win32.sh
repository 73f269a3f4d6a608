#!/usr/bin/env bash
# A smoke run of the real 32-bit program, the one customers get, under the 32-bit Wine,
# also on a machine that cannot run 32-bit programs (not part of scripts/test.sh, whose
# Windows tests may run on the 64-bit test build instead: see the README).
#
# Two runs of varmex-setup.exe from the windows preset, each beside the native build's
# run on the same inputs and compared with it by scripts/demo-windows.sh:
#   1. Escape on dialog 101: the transcripts byte for byte, the same exit status;
#   2. the demo's installation with No to the migration question: the transcripts and
#      the installed tree (drive D) alike, status 0 from both.
# It prints how long each step took.
#
# What it changes on the machine (as root):
# - installs the packages it needs and leaves them installed: those of the Windows demo
#   (scripts/deps.sh demo-windows), the 32-bit Wine (wine32:i386, with the i386
#   architecture added to dpkg), and, where 32-bit programs cannot run, qemu-user;
# - where 32-bit programs cannot run: registers the binfmt entry "qemu-i386", which
#   hands every i386 Linux program on the machine to /usr/bin/qemu-i386 (user-mode
#   emulation; each program start then takes the better part of a minute), mounting
#   binfmt_misc first if it is not mounted; both are undone when the script ends,
#   however it ends. An entry "qemu-i386" that was there before is used and kept.
# Where emulation cannot be set up (no root, no binfmt_misc), it says so and ends with
# status 1 before it changes anything.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
# shellcheck source=scripts/windows-build.sh
source scripts/windows-build.sh
SECONDS=0
step_name= step_start=0
step() {  # step TEXT: how long the step before took, then the new step's heading
  [ -z "$step_name" ] || echo "-- $step_name: $((SECONDS - step_start)) s"
  step_name=$1 step_start=$SECONDS
  echo "== $1"
}
die() { echo "smoke-win32: $*" >&2; exit 1; }

binfmt=/proc/sys/fs/binfmt_misc
entry=$binfmt/qemu-i386
we_mounted=
we_registered=
undo() {
  if [ -n "$we_registered" ] && [ -e "$entry" ]; then
    echo -1 >"$entry" && echo "smoke-win32: binfmt entry qemu-i386 removed"
  fi
  if [ -n "$we_mounted" ]; then
    umount "$binfmt" && echo "smoke-win32: binfmt_misc unmounted"
  fi
}
trap undo EXIT

step "what this machine can do"
[ "$(id -u)" = 0 ] || die "needs root (packages, and the binfmt entry where 32-bit programs cannot run); nothing was changed"
emulate=
# VARMEX_SMOKE_EMULATE=1 takes the emulation also where 32-bit programs run, to try it.
if [ "${VARMEX_SMOKE_EMULATE:-0}" != 1 ] && runs_32bit_programs; then
  echo "$probe_said: no emulation needed"
elif i386_emulated; then
  echo "$probe_said: that entry is used as it is, and kept"
else
  [ "${VARMEX_SMOKE_EMULATE:-0}" != 1 ] || probe_said="emulation asked for (VARMEX_SMOKE_EMULATE=1)"
  echo "$probe_said: i386 programs will run through user-mode emulation (qemu-user)"
  emulate=1
  if [ ! -e "$binfmt/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null ||
      die "binfmt_misc cannot be mounted on $binfmt here, so no emulation can be set up; nothing was changed"
    we_mounted=1
    echo "smoke-win32: binfmt_misc mounted on $binfmt (undone at the end)"
  fi
  [ -w "$binfmt/register" ] ||
    die "$binfmt/register cannot be written, so no emulation can be set up; nothing was changed"
fi

step "packages"
bash scripts/deps.sh win32 || die "the packages it needs cannot be installed (above)"
export VARMEX_DEPS_DONE=test

if [ -n "$emulate" ]; then
  step "user-mode emulation of i386 programs"
  # The ELF header of an i386 executable or shared object, and which of its bits count.
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  # F: the interpreter is opened now, so it also serves programs in other mount spaces.
  echo ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386:F" >"$binfmt/register" ||
    die "the binfmt entry qemu-i386 could not be registered"
  we_registered=1
  echo "smoke-win32: binfmt entry qemu-i386 registered (undone at the end)"
  run_probe32
  [ "$probe_status" = 42 ] || die "a 32-bit program still does not run under emulation ($probe_error)"
  echo "a 32-bit program runs through qemu-i386"
fi

step "the 32-bit Wine starts"
timeout 600 /usr/lib/wine/wine --version || die "the 32-bit Wine does not start here"

out=$root/build/smoke-win32
rm -rf "$out"
mkdir -p "$out"
export VARMEX_WINE_ARCH=win32
# Every program start under emulation takes up to a minute: the installation with its
# ten or so starts gets an hour.
export VARMEX_DEMO_TIMEOUT=3600

run_case() {  # run_case NAME ANSWERS: one comparison by the Windows demo
  local name=$1 status=0
  VARMEX_DEMO_ANSWERS=$2 bash scripts/demo-windows.sh windows >"$out/$name.log" 2>&1 || status=$?
  sed -n '/^== comparison/,$p' "$out/$name.log"
  rm -rf "$out/$name"
  cp -R build/demo-windows "$out/$name"
  if [ "$status" != 0 ]; then
    cat "$out/$name.log"
    die "$name: the 32-bit program did not do what the native one did (log: $out/$name.log)"
  fi
}

# Run 1 also builds the programs (release and windows presets) in scripts/demo-windows.sh.
step "run 1: Escape on dialog 101"
cat >"$out/escape.script" <<'EOF'
# The partition dialog closed with the Esc key.
dialog 101
key escape
EOF
run_case escape "$out/escape.script"
grep -q '"event":"dialog","id":101' "$out/escape/windows/transcript.jsonl" ||
  die "run 1: the transcript shows no dialog"

step "run 2: the demo's installation, No to the migration question"
sed 's/^answer yes$/answer no/' scripts/demo.script | sed '/^dialog 107$/,$d' >"$out/no-migration.script"
grep -q '^answer no$' "$out/no-migration.script" || die "the demo's answers have no migration question"
run_case no-migration "$out/no-migration.script"

step "done"
echo "smoke-win32: the 32-bit program ran as the native one, twice, in $((SECONDS / 60)) min $((SECONDS % 60)) s"
