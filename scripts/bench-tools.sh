#!/bin/sh
# The tools' benchmark: kedro-db verify and info, dens, and kedro-db dump piped into wc
# (the floor: one walk over every record, each printed) on block files built by
# make_block_file, each run timed with its peak memory (GNU time):
#
#   scripts/bench-tools.sh [BLOCKS [RECORDS...]]
#
# Defaults: 1000000 blocks; 1000000, 3000000 and 10000000 records (24-byte records with
# 10-byte keys: 10 records a block fill it about half). Builds the release preset's
# targets (or those of VARMEX_BENCH_BUILD), puts the files in ${TMPDIR:-/tmp} (512 MB
# for a million blocks) and removes them. Also times the same commands on a sparse file
# of 2147483647 blocks that holds only its header. Prints a Markdown table.
set -eu

# shellcheck source=scripts/bench-build.sh
. "$(dirname "$0")/bench-build.sh"
cmake --build "$build" --target make_block_file kedro-db dens >/dev/null
command -v /usr/bin/time >/dev/null || { echo "bench-tools: needs GNU time (/usr/bin/time)" >&2; exit 1; }

blocks=${1:-1000000}
[ $# -gt 0 ] && shift
sizes=${*:-1000000 3000000 10000000}
dir=$(mktemp -d "${TMPDIR:-/tmp}/varmex-bench-tools.XXXXXX")
trap 'rm -rf "$dir"' EXIT
bin=$build/bin

# run LABEL COMMAND...: one row cell pair "seconds | peak MB" (the command's own output
# goes to /dev/null, or through wc for the dump).
run() {
  /usr/bin/time -f '%e %M' -o "$dir/time" sh -c "$*" >/dev/null 2>"$dir/err" || true
  tail -1 "$dir/time" | awk '{printf "%.2f | %.0f", $1, $2 / 1024}'
}

echo "| File | Records | Build s | verify s | verify MB | info s | info MB | dens s | dens MB | dump \\| wc s | dump \\| wc MB |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
for records in $sizes; do
  f=$dir/f.dat
  start=$(date +%s.%N)
  "$bin/make_block_file" "$f" "$blocks" "$records"
  built=$(echo "$(date +%s.%N) - $start" | bc)
  cat "$f" >/dev/null  # warm in the page cache, as for every command after it
  printf '| %s blocks | %s | %.1f | %s | %s | %s | %s |\n' "$blocks" "$records" "$built" \
    "$(run "$bin/kedro-db" verify "$f")" "$(run "$bin/kedro-db" info "$f")" \
    "$(run "$bin/dens" "$f")" "$(run "'$bin/kedro-db' dump '$f' | wc -l")"
  rm -f "$f"
done
# A sparse file: the header, then holes up to 2147483647 blocks.
f=$dir/sparse.dat
printf '\377\160****************\377\377\377\177' >"$f"
truncate -s $((2147483647 * 512)) "$f"
printf '| 2147483647 blocks, sparse | 0 | - | %s | %s | %s | %s |\n' \
  "$(run "$bin/kedro-db" verify "$f")" "$(run "$bin/kedro-db" info "$f")" \
  "$(run "$bin/dens" "$f")" "$(run "'$bin/kedro-db' dump '$f' | wc -l")"
