#!/bin/sh
# Runs every benchmark in full and writes the tables of BENCHMARKS.md:
#   scripts/bench.sh [OUTDIR]
# builds the release preset's benchmark targets (or those of the build folder named by
# VARMEX_BENCH_BUILD), runs store_bench (the keyed store straight to the file and
# through the block cache, beside GDBM, SQLite and bare block I/O) and migration_bench
# (whole migrations of generated collections of 25,000, 100,000, 250,000 and 500,000 estimates
# beside their I/O floor), and writes OUTDIR/tables.md (default build/<preset>/bench)
# with the machine's description first. BENCH_MIN_TIME (seconds per benchmark, default
# 0.5), BENCH_RUNS (migrations per size, default 1) and BENCH_SIZES (default
# 25000,100000,250000,500000) trade time for steadier figures.
set -eu

# shellcheck source=scripts/bench-build.sh
. "$(dirname "$0")/bench-build.sh"
out=${1:-$build/bench}
mkdir -p "$out"

cmake --build "$build" --target store_bench migration_bench varmex_io_count varmex-setup \
  dens nredisp convfurn cuvterti lsort fo2 mkhvoc >/dev/null

status=0
"$build/bin/store_bench" --table="$out/store.md" --benchmark_min_time="${BENCH_MIN_TIME:-0.5}" \
  >"$out/store.log" 2>&1 || { grep '^store_bench:' "$out/store.log" >&2 || tail -20 "$out/store.log" >&2; status=1; }
"$build/bin/migration_bench" --runs "${BENCH_RUNS:-1}" --sizes "${BENCH_SIZES:-25000,100000,250000,500000}" \
  --report "$out/migration.md" \
  >"$out/migration.log" 2>&1 || { tail -20 "$out/migration.log" >&2; status=1; }

{
  echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'), $(nproc) cores," \
    "$(awk '/MemTotal/ {printf "%.1f GB", $2 / 1048576}' /proc/meminfo) memory, Linux $(uname -r)," \
    "files in ${TMPDIR:-/tmp} ($(df -T "${TMPDIR:-/tmp}" | awk 'NR == 2 {print $2}')), $(c++ --version | head -1)"
  echo "Load average when the run ended: $(cut -d' ' -f1-3 /proc/loadavg)"
  cat "$out/store.md" "$out/migration.md" 2>/dev/null
} >"$out/tables.md"
cat "$out/tables.md"
exit $status
