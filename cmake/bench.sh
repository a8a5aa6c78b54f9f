#!/usr/bin/env bash
# make bench: runs every benchmark program and prints its figures. The
# qx3fetch benchmark needs the server registered in the private prefix and
# the sample data.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${QX3_BUILD:-$root/build}"
shopt -s nullglob
benches=("$build"/bin/*_bench.exe)
if [ ${#benches[@]} -eq 0 ]; then
  echo "No benchmarks yet."
  exit 0
fi
bash "$root/cmake/wine-prefix.sh" reset "$build"
trap 'bash "$root/cmake/wine-prefix.sh" stop "$build"' EXIT
if [ -f "$build/bin/qx3fetch.exe" ]; then
  bash "$root/cmake/register-server.sh" "$build"
fi
export QX3_SAMPLES="Z:$(printf '%s' "$build/samples" | tr / '\\')"
for bench in "${benches[@]}"; do
  # The symbol library's benchmark needs its HTTP servers: its own script runs it.
  [ "$(basename "$bench")" = dbghelp_bench.exe ] && continue
  echo "== $(basename "$bench")"
  "$build/wine-run.sh" "$bench"
done
if [ -f "$build/bin/dbghelp_bench.exe" ]; then
  echo "== dbghelp_bench.exe"
  bash "$root/dbghelp/bench/run-bench.sh" "$build"
fi
# Last: it installs and registers its own copy of qx3fetch and the add-in.
if [ -f "$build/bin/qx3ide.dll" ] && [ -f "$build/bin/msdev.exe" ]; then
  echo "== IDE debug session (msdev.exe with and without Quillmar)"
  bash "$root/platform/vc6ide/bench/run-session-bench.sh" "$build"
fi
