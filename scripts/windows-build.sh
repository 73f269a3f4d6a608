# Which Windows build the tests run under Wine on this machine (sourced, not run).
#
# The program customers get is the 32-bit one (preset windows). Its tests run under the
# 32-bit Wine, which needs a machine that runs 32-bit programs: some machines refuse
# every one of them ("Exec format error"), and there the 64-bit test build of the same
# sources (preset windows64) runs under the 64-bit Wine instead. What the machine can
# do is found out by running a 32-bit program, never read off the kernel's name.
#
#   run_probe32              runs a 32-bit Linux program; sets probe_status (42 when it
#                            ran) and probe_error (what the shell said otherwise)
#   runs_32bit_programs      status 0 when a 32-bit Linux program runs here natively;
#                            sets probe_said to what was seen
#   choose_windows_build     sets windows_test_preset (windows or windows64),
#                            windows_test_wine (win32 or win64) and windows_test_why

# A 32-bit Linux program of 96 bytes, written out here so that the probe needs nothing
# installed: an ELF header, one loadable segment, and "mov ebx, 42; mov eax, 1 (exit);
# int 0x80". It exits with status 42 where the kernel runs i386 programs.
write_probe32() {
  printf '%b' \
    '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
    '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
    '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
    '\x00\x00\x00\x00' \
    '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' \
    '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
    '\xbb\x2a\x00\x00\x00\xb8\x01\x00\x00\x00\xcd\x80' >"$1"
  chmod +x "$1"
}

# Where i386 programs are handed to a user-mode emulator (a binfmt entry), the probe
# runs too, but every program start is slow: that is not a machine that runs them.
i386_emulated() {
  local entry=/proc/sys/fs/binfmt_misc/qemu-i386
  [ -f "$entry" ] && [ "$(head -n 1 "$entry")" = enabled ]
}

run_probe32() {
  local dir
  dir=$(mktemp -d "${TMPDIR:-/tmp}/varmex-probe32.XXXXXX")
  write_probe32 "$dir/probe32"
  probe_status=0
  "$dir/probe32" 2>"$dir/err" || probe_status=$?
  probe_error=$(tr '\n' ' ' <"$dir/err" | sed 's/.*probe32: //; s/ *$//')
  rm -rf "$dir"
}

runs_32bit_programs() {
  run_probe32
  if [ "$probe_status" = 42 ] && i386_emulated; then
    probe_said="a 32-bit program runs here only through user-mode emulation (binfmt entry qemu-i386)"
    return 1
  elif [ "$probe_status" = 42 ]; then
    probe_said="a 32-bit program ran here"
    return 0
  fi
  probe_said="a 32-bit program was refused here (exit status $probe_status${probe_error:+: $probe_error})"
  return 1
}

# Whether the 32-bit Wine starts (it is installed only where 32-bit programs run).
wine32_starts() {
  [ -x /usr/lib/wine/wine ] && timeout 60 /usr/lib/wine/wine --version >/dev/null 2>&1
}

choose_windows_build() {
  if ! runs_32bit_programs; then
    windows_test_preset=windows64 windows_test_wine=win64
    windows_test_why="$probe_said"
  elif ! wine32_starts; then
    windows_test_preset=windows64 windows_test_wine=win64
    windows_test_why="$probe_said, but the 32-bit Wine is not installed or does not start (package wine32:i386)"
  else
    windows_test_preset=windows windows_test_wine=win32
    windows_test_why="$probe_said and the 32-bit Wine starts"
  fi
}
