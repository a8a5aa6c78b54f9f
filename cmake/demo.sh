#!/usr/bin/env bash
# make demo: runs the main job on the built-in sample data under the build's
# private Wine prefix. For now it shows the per-module trace start-up: a module
# with Trace=1 in the qx3.ini beside it writes its log there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
bash "$root/cmake/wine-prefix.sh" reset "$build"
trap 'bash "$root/cmake/wine-prefix.sh" stop "$build"' EXIT
. "$build/wine-env.sh"

work="$build/testtmp/demo"
rm -rf "$work" && mkdir -p "$work"
echo "== Sample data in $build/samples"
(cd "$build/samples" && find images symbols store -type f | sort | sed 's/^/   /')
echo "== common_tests.exe under Wine"
timeout 300 wine "$build/bin/common_tests.exe" --gtest_brief=1 2>&1 | tail -n 3
