#!/usr/bin/env bash
# Runs every built fuzz target in build/fuzz/bin for N seconds each (N = $1, default
# 10). Each target keeps a corpus in build/fuzz/corpus/<target>, seeded from
# fuzz/corpus/<target>/ when that folder exists.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
bin=build/fuzz/bin
shopt -s nullglob
targets=("$bin"/*_fuzz)
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets in $bin" >&2
  exit 1
fi
for target in "${targets[@]}"; do
  name=$(basename "$target")
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  if [ -d "fuzz/corpus/$name" ]; then
    cp -n "fuzz/corpus/$name"/* "$corpus"/ 2>/dev/null || true
  fi
  echo "== $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$corpus"
done
