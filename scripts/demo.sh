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

bash scripts/deps.sh demo
# shellcheck source=scripts/demo-steps.sh
source scripts/demo-steps.sh

echo "== building (release preset)"
demo_build_release
bin=$demo_bin

demo=$root/build/demo
rm -rf "$demo"
mkdir -p "$demo/drives/C" "$demo/drives/D" "$demo/medium"

demo_collection "$demo/drives/C/Palunor" "$demo/fresh"
demo_medium "$demo/medium" "$bin" "" "$demo/fresh"

collection_sum() { (cd "$demo/drives/C/Palunor" && find . -type f -print0 | sort -z | xargs -0 sha256sum | sha256sum); }
before=$(collection_sum)

echo "== the old data collection (C:\\Palunor, mapped to $demo/drives/C/Palunor)"
(cd "$demo/drives/C/Palunor" && find . -type f | sort | head -20 && echo "... $(find . -type f | wc -l) files")

echo "== the installation medium ($demo/medium)"
ls -l "$demo/medium" | tail -n +2

echo "== running varmex-setup on drive D (mapped to $demo/drives/D), migrating C:\\Palunor"
status=0
demo_setup_native "$demo/drives" "$demo/medium" "$demo/transcript.jsonl" || status=$?

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
