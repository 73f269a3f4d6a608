#!/usr/bin/env bash
# Runs every fuzz target for a bounded time, each starting from seeds generated here
# (small synthetic collections written by gencollection, and answer scripts):
#   scripts/fuzz.sh [SECONDS] [BUILD_DIR] [TARGET...]
# SECONDS per target (default 5), BUILD_DIR a build of the fuzz preset (default
# build/fuzz). The corpus each target grows is kept in BUILD_DIR/fuzz-corpus/TARGET and
# reused by the next run; inputs that crash, hang or break an invariant are written to
# BUILD_DIR/fuzz-artifacts/. Exits 1 when a target finds one.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-5}
build=${2:-build/fuzz}
all_targets=(data_file_fuzzer block_store_fuzzer legacy_layout_fuzzer price_base_fuzzer
  estimate_items_fuzzer exchange_rates_fuzzer grupdev_fuzzer ui_script_fuzzer unrar_fuzzer
  block_cache_fuzzer)
if [ $# -gt 2 ]; then targets=("${@:3}"); else targets=("${all_targets[@]}"); fi

cmake --build "$build" --target "${targets[@]}" gencollection >/dev/null
bin=$root/$build/bin
seeds=$root/$build/fuzz-seeds
corpus=$root/$build/fuzz-corpus
artifacts=$root/$build/fuzz-artifacts
mkdir -p "$corpus" "$artifacts"

# Seeds: three small collections (version 36 with word-layout norms, version 35 with
# block-file norms, and the one the GRUPDEV target builds around its input).
rm -rf "$seeds"
mkdir -p "$seeds"
gen() { "$bin/gencollection" "$@" >/dev/null; }
gen --version 36 --estimates 10 --bases 3 --seed 1 --split 40 \
  --fresh "$seeds/fresh" --lcalcdev-blocks 7 --prefman-blocks 9 "$seeds/c36"
gen --version 35 --estimates 6 --bases 2 --seed 2 --block-norms "$seeds/c35"
gen --version 36 --estimates 12 --bases 2 --seed 38 "$seeds/grupdev"
seed() {  # seed TARGET FILE...
  mkdir -p "$seeds/$1"
  local t=$1; shift
  local i=0
  for f in "$@"; do
    if [ -f "$f" ]; then cp "$f" "$seeds/$t/$i-$(basename "$f")"; i=$((i + 1)); fi
  done
}
v36=$seeds/c36/Varmex
seed data_file_fuzzer "$v36/OBI.DAT" "$v36/FURNMAT.DAT" "$seeds/fresh/lcalcdev.dat"
seed block_store_fuzzer "$v36/FURNMAT.DAT" "$v36/FURNDEV.DAT" "$seeds/c36/ERP/terti.dat" \
  "$seeds/fresh/lcalcdev.dat" "$seeds/fresh/Prefman.dat" "$seeds/c35/NOR.DAT" "$seeds/c35/TEHNO.DAT"
seed legacy_layout_fuzzer "$v36/DEV.DAT" "$v36/OBI.DAT" "$v36/NOR.DAT" "$v36/TEHNO.DAT"
seed price_base_fuzzer "$v36"/baz00*.dat "$seeds/c35"/baz00*.dat
seed estimate_items_fuzzer "$v36/DEV.DAT" "$seeds/c35/DEV.DAT"
seed exchange_rates_fuzzer "$v36/CURSVAL.DAT" "$seeds/c35/CURSVAL.DAT"
seed grupdev_fuzzer "$seeds/grupdev/Varmex/DEV.DAT"
seed ui_script_fuzzer "$root/scripts/demo.script"
# Any bytes make a program of block reads and writes: long ones reach the evictions.
seed block_cache_fuzzer "$v36/DEV.DAT" "$v36/FURNMAT.DAT" "$seeds/c35/DEV.DAT"
# Seeds kept in the tree beside the targets, when a target has any.
for t in "${targets[@]}"; do
  if [ -d "fuzz/corpus/$t" ]; then mkdir -p "$seeds/$t" && cp "fuzz/corpus/$t"/* "$seeds/$t"/ 2>/dev/null || true; fi
done
printf 'dialog 101\nselect 1002 D\nclick 1\nanswer yes\ndialog 107\nclick 1004\nset 1021 C:\\Vechi\nkey enter\nkey escape\ndialog 102\nclick 1009\nclick 1007\n' \
  > "$seeds/ui_script_fuzzer/mixed.script"
printf '# nothing fits\ndialog 107\nclick 9999\nselect 1002 Q\nanswer maybe\nset\n\tclick 2\n' \
  > "$seeds/ui_script_fuzzer/odd.script"

# Longest input per target: a few dozen blocks are enough to reach every path.
max_len() {
  case $1 in
    exchange_rates_fuzzer) echo 1024 ;;
    ui_script_fuzzer) echo 4096 ;;
    data_file_fuzzer) echo 2048 ;;
    price_base_fuzzer) echo 8192 ;;
    block_cache_fuzzer) echo 4096 ;;
    *) echo 32768 ;;
  esac
}

status=0
for t in "${targets[@]}"; do
  mkdir -p "$corpus/$t" "$seeds/$t"
  log=$root/$build/fuzz-$t.log
  echo "== $t (${seconds}s)"
  if ! "$bin/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="$(max_len "$t")" \
      -artifact_prefix="$artifacts/$t-" -print_final_stats=1 "$corpus/$t" "$seeds/$t" >"$log" 2>&1; then
    echo "$t found a fault (log: $log):"
    grep -E 'ERROR|invariant|SUMMARY|Test unit written|timeout' "$log" | head -20 || tail -30 "$log"
    status=1
  else
    grep -E '^stat::number_of_executed_units|^stat::new_units_added' "$log" | tr '\n' ' '
    echo
  fi
done
exit "$status"
