#!/usr/bin/env bash
# Runs dbghelp_bench.exe with its HTTP figures: serves a copy of the samples
# store plus a few-MB file from BUILD_DIR/bench-http on 127.0.0.1, and a mute
# server, runs the bench with their ports, then stops both servers.
#   run-bench.sh [BUILD_DIR]     (default: the repository's build/)
# Expects the build's Wine prefix to be ready (cmake/bench.sh resets it).
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
dir="$build/bench-http"
. "$root/samples/serve-store.sh"
pids=()

stop_servers() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
}
trap stop_servers EXIT

# start_server NAME ARGS...: sets PORT.
start_server() {
  local name=$1
  shift
  start_store_server "$name" "$dir" "$@" --lifetime 300
  pids+=("$SERVER_PID")
}

rm -rf "$dir"
mkdir -p "$dir/root"
cp -r "$build/samples/store" "$dir/root/store"
head -c 8388608 /dev/urandom >"$dir/root/big.bin"
start_server store "$dir/root"
store_port=$PORT
start_server mute "$dir/root" --mute
mute_port=$PORT

QX3_BENCH_HTTP_PORT=$store_port QX3_BENCH_HTTP_FILE=/big.bin QX3_BENCH_MUTE_PORT=$mute_port \
  "$build/wine-run.sh" "$build/bin/dbghelp_bench.exe"
