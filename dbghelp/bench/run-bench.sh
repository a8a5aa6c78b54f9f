#!/usr/bin/env bash
# Runs dbghelp_bench.exe with its HTTP figures: serves a copy of the samples
# store plus an 8 MB and a 64 MB file from BUILD_DIR/bench-http on 127.0.0.1,
# over HTTP and over HTTPS (a test CA made here, trusted in the build's
# private prefix only), and a mute server; runs the bench with their ports,
# then stops the servers.
#   run-bench.sh [BUILD_DIR]     (default: the repository's build/)
# Expects the build's Wine prefix to be ready (cmake/bench.sh resets it).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
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
head -c 8388608 /dev/urandom >"$dir/root/big8.bin"
head -c 67108864 /dev/urandom >"$dir/root/big64.bin"
bash "$root/dbghelp/tests/make-test-certs.sh" "$dir/tls"
"$build/wine-run.sh" "$build/bin/trust_test_ca.exe" "Z:$(printf '%s' "$dir/tls/ca.der" | tr / '\\')"
start_server store "$dir/root"
store_port=$PORT
start_server tls "$dir/root" --cert "$dir/tls/localhost.pem" --key "$dir/tls/server.key"
tls_port=$PORT
start_server mute "$dir/root" --mute
mute_port=$PORT

QX3_BENCH_HTTP_PORT=$store_port QX3_BENCH_HTTPS_PORT=$tls_port QX3_BENCH_HTTP_FILES=/big8.bin,/big64.bin \
  QX3_BENCH_MUTE_PORT=$mute_port "$build/wine-run.sh" "$build/bin/dbghelp_bench.exe"
