#!/usr/bin/env bash
# The main job: a complete installation from the demo medium onto a scratch drive D,
# answered by scripts/demo.script, then the transcript printed as a person reads it
# and the installed tree listed.
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
cmake --build build/release -j 2 --target varmex-setup unrar mklnk varmex-demo-medium varmex-transcript >/dev/null
bin=$root/build/release/bin

demo=$root/build/demo
rm -rf "$demo"
mkdir -p "$demo/drives/D" "$demo/medium"
"$bin/varmex-demo-medium" "$demo/medium" --mklnk "$bin/mklnk"

echo "== the installation medium ($demo/medium)"
ls -l "$demo/medium" | tail -n +2

echo "== running varmex-setup on drive D (mapped to $demo/drives/D)"
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
echo "== varmex-setup exit status: $status"
exit "$status"
