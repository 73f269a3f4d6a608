#!/usr/bin/env bash
# The main job: a complete installation from the demo medium onto a scratch drive D,
# answered by scripts/demo.script, which then answers Yes to the migration question
# and carries a generated version-36 data collection (on drive C, in C:\Palunor) into
# the new tree; then the transcript printed as a person reads it, the installed tree
# listed, and the migrated files measured.
#
# Works on a fresh Debian 12 machine as root (or with sudo): it installs the packages
# it needs, builds the release preset (only the programs the demo runs), and lays out
# everything under build/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/deps.sh

echo "== building (release preset)"
configure=(cmake --preset release)
# The benchmarks are not needed here; leave them out while their folder is empty.
if [ ! -f bench/CMakeLists.txt ]; then configure+=(-DVARMEX_BENCH=OFF); fi
"${configure[@]}" >/dev/null
cmake --build build/release -j 2 --target varmex-setup unrar mklnk varmex-demo-medium varmex-transcript \
  dens nredisp convfurn cuvterti lsort fo2 mkhvoc gencollection >/dev/null
bin=$root/build/release/bin

demo=$root/build/demo
rm -rf "$demo"
mkdir -p "$demo/drives/C" "$demo/drives/D" "$demo/medium"

# The old collection to migrate, and the empty lcalcdev.dat and Prefman.dat that a
# fresh installation brings along in varmdat.rar.
"$bin/gencollection" --version 36 --estimates 60 --bases 5 --seed 38 \
  --fresh "$demo/fresh" --lcalcdev-blocks 200 --prefman-blocks 400 "$demo/drives/C/Palunor" >/dev/null
# The medium carries the migration's tools: dens and nredisp unpack into kedro\Varmex,
# the partner and vocabulary tools into kedro\ERP.
medium_args=(--mklnk "$bin/mklnk"
  --add varmex38.rar "dens=$bin/dens" --add varmex38.rar "nredisp=$bin/nredisp"
  --add varmdat.rar "lcalcdev.dat=$demo/fresh/lcalcdev.dat"
  --add varmdat.rar "Prefman.dat=$demo/fresh/Prefman.dat")
for tool in convfurn cuvterti lsort fo2 mkhvoc; do medium_args+=(--add erp.rar "$tool=$bin/$tool"); done
"$bin/varmex-demo-medium" "$demo/medium" "${medium_args[@]}"

collection_sum() { (cd "$demo/drives/C/Palunor" && find . -type f -print0 | sort -z | xargs -0 sha256sum | sha256sum); }
before=$(collection_sum)

echo "== the old data collection (C:\\Palunor, mapped to $demo/drives/C/Palunor)"
(cd "$demo/drives/C/Palunor" && find . -type f | sort | head -20 && echo "... $(find . -type f | wc -l) files")

echo "== the installation medium ($demo/medium)"
ls -l "$demo/medium" | tail -n +2

echo "== running varmex-setup on drive D (mapped to $demo/drives/D), migrating C:\\Palunor"
status=0
(
  cd "$demo/medium"
  VARMEX_DRIVES="$demo/drives" \
  VARMEX_UI_SCRIPT="$root/scripts/demo.script" \
  VARMEX_UI_TRANSCRIPT="$demo/transcript.jsonl" \
  "$bin/varmex-setup"
) || status=$?

echo
echo "== what happened (transcript: $demo/transcript.jsonl)"
"$bin/varmex-transcript" "$demo/transcript.jsonl"

echo
echo "== the installed tree (D:\\kedro)"
(cd "$demo/drives/D" && find kedro | sort)

echo
echo "== the migrated collection"
echo "furnmat.dat (spread by nredisp during the migration):"
"$bin/dens" "$demo/drives/D/kedro/Varmex/FURNMAT.DAT" || true
if [ "$(collection_sum)" = "$before" ]; then
  echo "the old collection in C:\\Palunor is byte for byte as it was"
else
  echo "the old collection in C:\\Palunor was modified!"
  status=1
fi

echo
echo "== varmex-setup exit status: $status"
exit "$status"
