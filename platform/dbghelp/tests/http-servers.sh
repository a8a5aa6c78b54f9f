#!/usr/bin/env bash
# Loopback store servers for the HTTP tests, run by CTest around the test
# programs (a Windows program under Wine cannot start host processes):
#   http-servers.sh start BUILD_DIR SERVE_STORE_PY [SAMPLES_DIR]
#   http-servers.sh stop  BUILD_DIR
# start makes a small store under BUILD_DIR/testtmp/http/store, starts one
# serve_store.py per behaviour on 127.0.0.1 and writes their ports to
# BUILD_DIR/testtmp/http-servers.ini, section [Servers]. With SAMPLES_DIR it
# also serves the generated samples: "samples" serves the whole directory (the
# store at /store, the mismatched stores at /mismatch/<reason>/store) and
# "samplescut" serves the store but cuts the PDB downloads half-way. Every
# server ends by itself after 600 s even when stop never runs.
set -euo pipefail
cmd=$1
build=$(cd "$2" && pwd)
dir="$build/testtmp/http"
ini="$build/testtmp/http-servers.ini"
# Outside testtmp, which the next prefix reset empties: stop must still find it.
pids="$build/http-servers.pids"

stop_servers() {
  [ -f "$pids" ] || return 0
  while read -r pid; do
    # Only a server of ours: the numbers may be stale and reused by now.
    if [ -r "/proc/$pid/cmdline" ] && tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q 'serve_store.py'; then
      kill "$pid" 2>/dev/null || true
    fi
  done <"$pids"
  rm -f "$pids"
}

# start_server NAME ARGS...: sets PORT and records the server in the ini
# file and the pid list.
start_server() {
  local name=$1
  shift
  start_store_server "$name" "$dir" "$@" --lifetime 600 --log "$dir/$name.log"
  echo "$SERVER_PID" >>"$pids"
  echo "$name=$PORT" >>"$ini"
  echo "$name server on 127.0.0.1:$PORT"
}

case "$cmd" in
  start)
    serve=$3
    . "$(dirname "$serve")/serve-store.sh"
    stop_servers
    rm -rf "$dir" "$ini"
    mkdir -p "$dir/store/cut"
    # Every byte value, CR and LF among them, in a length that is no multiple of a buffer.
    python3 -c 'import sys; sys.stdout.buffer.write(bytes((i * 7 + i // 256) & 255 for i in range(77825)))' \
      >"$dir/store/small.bin"
    head -c 4194304 /dev/urandom >"$dir/store/big.bin"
    cp "$dir/store/small.bin" "$dir/store/cut/small.bin"
    echo "[Servers]" >"$ini"

    start_server mirror "$dir/store"
    mirror=$PORT
    start_server store "$dir/store" \
      --status 500=/error/ --status 410=/gone/ \
      --redirect-prefix /moved/=/ --redirect-prefix /loop/=/loop/ \
      --redirect-prefix /elsewhere/=http://127.0.0.1:$mirror/ \
      --cut 1000=/cut/
    start_server mute "$dir/store" --mute
    if [ -n "${4:-}" ]; then
      samples=$(cd "$4" && pwd)
      start_server samples "$samples"
      # Both sample PDBs are longer than 3072 bytes: every PDB reply ends short.
      start_server samplescut "$samples/store" --cut 3072=/nb10.pdb/ --cut 3072=/rsds.pdb/ \
        --cut 3072=/dbgpdb.pdb/
    fi
    ;;
  stop)
    stop_servers
    ;;
  *)
    echo "usage: $0 start BUILD_DIR SERVE_STORE_PY [SAMPLES_DIR] | stop BUILD_DIR" >&2
    exit 2
    ;;
esac
