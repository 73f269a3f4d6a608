# Steps shared by the native demo (scripts/demo.sh) and the Windows demo
# (scripts/demo-windows.sh), so that both run on the same medium contents, the same old
# collection and the same answers. Sourced, not run; the caller is in the repository's
# root and has set -euo pipefail.
# shellcheck shell=bash

# The demo's answers; VARMEX_DEMO_ANSWERS names others (scripts/smoke-win32.sh).
demo_answers=${VARMEX_DEMO_ANSWERS:-$PWD/scripts/demo.script}

# Builds the release programs the demo runs; sets demo_bin to their folder.
demo_build_release() {
  local configure=(cmake --preset release)
  # The benchmarks are not needed here; leave them out while their folder is empty.
  if [ ! -f bench/CMakeLists.txt ]; then configure+=(-DVARMEX_BENCH=OFF); fi
  "${configure[@]}" >/dev/null
  cmake --build build/release -j 2 --target varmex-setup unrar mklnk varmex-demo-medium \
    varmex-transcript dens nredisp convfurn cuvterti lsort fo2 mkhvoc gencollection >/dev/null
  demo_bin=$PWD/build/release/bin
}

# demo_collection DIR FRESH: the old version-36 collection to migrate, in DIR, and in
# FRESH the empty lcalcdev.dat and Prefman.dat that a fresh installation brings along
# in varmdat.rar.
demo_collection() {
  "$demo_bin/gencollection" --version 36 --estimates 60 --bases 5 --seed 38 \
    --fresh "$2" --lcalcdev-blocks 200 --prefman-blocks 400 "$1" >/dev/null
}

# demo_medium DIR TOOLS EXT FRESH: the ten archives in DIR, carrying the programs of the
# folder TOOLS whose file names end in EXT ("" or ".exe"): the shortcut maker mklnk
# and the partner and vocabulary tools unpack into kedro\ERP, dens and nredisp into
# kedro\Varmex. Each tool is packed under its file name in TOOLS.
demo_medium() {
  local dir=$1 tools=$2 ext=$3 fresh=$4 tool
  local args=(--add erp.rar "mklnk$ext=$tools/mklnk$ext"
    --add varmex38.rar "dens$ext=$tools/dens$ext" --add varmex38.rar "nredisp$ext=$tools/nredisp$ext"
    --add varmdat.rar "lcalcdev.dat=$fresh/lcalcdev.dat"
    --add varmdat.rar "Prefman.dat=$fresh/Prefman.dat")
  for tool in convfurn cuvterti lsort fo2 mkhvoc; do
    args+=(--add erp.rar "$tool$ext=$tools/$tool$ext")
  done
  "$demo_bin/varmex-demo-medium" "$dir" "${args[@]}"
}

# demo_setup_native DRIVES MEDIUM TRANSCRIPT: varmex-setup (release build) run from the
# medium with the demo's answers, the drives mapped to the entries of DRIVES. Its status
# is the program's.
demo_setup_native() {
  (
    cd "$2" || exit 1
    VARMEX_DRIVES="$1" VARMEX_UI_SCRIPT="$demo_answers" VARMEX_UI_TRANSCRIPT="$3" \
      "$demo_bin/varmex-setup"
  )
}
