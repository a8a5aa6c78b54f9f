#!/usr/bin/env bash
# make bench: runs every benchmark program and prints its figures.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
shopt -s nullglob
benches=("$build"/bin/*_bench.exe)
if [ ${#benches[@]} -eq 0 ]; then
  echo "No benchmarks yet."
  exit 0
fi
bash "$root/cmake/wine-prefix.sh" reset "$build"
trap 'bash "$root/cmake/wine-prefix.sh" stop "$build"' EXIT
for bench in "${benches[@]}"; do
  echo "== $(basename "$bench")"
  "$build/wine-run.sh" "$bench"
done
