#!/usr/bin/env bash
# Line coverage of the core after the tests of a gcc build made with --coverage
# (VARMEX_COVERAGE=ON) have run:
#   scripts/coverage.sh [BUILD_DIR]        (default build/dev)
# Prints the line coverage of store/, grupdev/, pricebase/ and migration/ (and of the
# whole core), and exits 1 when one of those four folders is below 90%. Test sources
# and test-only helpers are not counted.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-build/dev}
threshold=90

if ! find "$build" -name '*.gcda' -print -quit | grep -q .; then
  echo "coverage: no coverage data under $build (configure with -DVARMEX_COVERAGE=ON and run the tests first)" >&2
  exit 1
fi

summary=$(mktemp)
trap 'rm -f "$summary"' EXIT
gcovr -r "$root" --object-directory "$root/$build" \
  --filter '(installer|migration|database|store|grupdev|pricebase|io)/' \
  --exclude '.*_test\.cpp$' --exclude '.*test.*\.h$' --exclude 'store/legacy_writer\.cpp$' \
  --json-summary "$summary" "$root/$build" >/dev/null

python3 - "$summary" "$threshold" <<'PY'
import json, sys
data = json.load(open(sys.argv[1]))
threshold = float(sys.argv[2])
folders = {}
for f in data["files"]:
    folder = f["filename"].split("/")[0]
    total, covered = folders.get(folder, (0, 0))
    folders[folder] = (total + f["line_total"], covered + f["line_covered"])
gated = ["store", "grupdev", "pricebase", "migration"]
failed = []
print("line coverage")
for folder in sorted(folders):
    total, covered = folders[folder]
    pct = 100.0 * covered / total if total else 100.0
    mark = ""
    if folder in gated:
        mark = "  (at least %d%%)" % threshold
        if pct < threshold:
            failed.append(folder)
            mark += "  BELOW"
    print("  %-10s %6.1f%%  %5d of %5d lines%s" % (folder + "/", pct, covered, total, mark))
total = sum(t for t, _ in folders.values())
covered = sum(c for _, c in folders.values())
print("  %-10s %6.1f%%  %5d of %5d lines" % ("total", 100.0 * covered / total if total else 100.0, covered, total))
for folder in gated:
    if folder not in folders:
        print("coverage: no data for %s/" % folder)
        failed.append(folder)
if failed:
    print("coverage below %d%% in: %s" % (threshold, ", ".join(f + "/" for f in failed)))
    sys.exit(1)
PY
