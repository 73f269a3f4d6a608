# Sourced by the benchmark scripts: goes to the repository's root and sets `build` to the
# build folder whose targets they run, VARMEX_BENCH_BUILD or the release preset's
# (configured when it is not yet).
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if [ -n "${VARMEX_BENCH_BUILD:-}" ]; then
  build=$VARMEX_BENCH_BUILD
else
  build=build/release
  [ -f "$build/build.ninja" ] || cmake --preset release >/dev/null
fi
