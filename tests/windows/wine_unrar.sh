#!/usr/bin/env bash
# The Windows unrar.exe under Wine where only a real file system shows its answer: an
# archive that is a named pipe is refused at once, and a write that fails part way
# (a file size limit stands in for a full disk) leaves the old file as it was and no
# temporary file behind.
#
#   wine_unrar.sh BIN_DIR
set -euo pipefail
bin=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
wine_run=$root/scripts/wine-run.sh
scratch=$(mktemp -d "${TMPDIR:-/tmp}/varmex-wine-unrar.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
winpath() { echo "Z:${1//\//\\}"; }
unrar() { timeout 120 "$wine_run" "$bin/unrar.exe" "$@" 2>"$scratch/err" && status=0 || status=$?; }

mkfifo "$scratch/pipe.rar"
unrar t "$(winpath "$scratch/pipe.rar")"
[ "$status" != 124 ] || fail "unrar waited on a pipe"
[ "$status" = 6 ] || fail "pipe: exit status $status, expected 6"
grep -qF "unrar: cannot open $(winpath "$scratch/pipe.rar"): not a regular file" "$scratch/err" ||
  fail "pipe: $(cat "$scratch/err")"

# A 200,000-byte a.txt (after bfur.rar's own bfur.txt) unpacked over the old one with a 100,000-byte file size limit.
head -c 200000 /dev/zero | tr '\0' 'n' > "$scratch/new.txt"
(cd "$scratch" && "$wine_run" "$bin/win-medium.exe" "$(winpath "$scratch/medium")" \
  --add bfur.rar "a.txt=$(winpath "$scratch/new.txt")") || fail "medium not written"
mkdir "$scratch/dest"
printf 'precious original' > "$scratch/dest/a.txt"
status=0
(trap '' XFSZ; prlimit --fsize=100000 timeout 120 "$wine_run" "$bin/unrar.exe" e -y \
  "$(winpath "$scratch/medium/bfur.rar")" "$(winpath "$scratch/dest")" 2>"$scratch/err") || status=$?
[ "$status" = 5 ] || fail "full write: exit status $status, expected 5 ($(cat "$scratch/err"))"
grep -qF "unrar: cannot write $(winpath "$scratch/dest")\\a.txt: " "$scratch/err" ||
  fail "full write: $(cat "$scratch/err")"
[ "$(cat "$scratch/dest/a.txt")" = "precious original" ] || fail "the old a.txt was changed"
# bfur.txt, the archive's first entry, came in whole before a.txt failed.
[ "$(ls -A "$scratch/dest" | tr '\n' ' ')" = "a.txt bfur.txt " ] ||
  fail "left behind: $(ls -A "$scratch/dest")"
echo PASS
