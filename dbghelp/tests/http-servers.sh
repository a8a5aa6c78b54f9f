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
# "samplescut" serves the store but cuts the PDB downloads half-way.
# The HTTPS servers use the certificates that make-test-certs.sh makes in
# BUILD_DIR/testtmp/http/tls (trust_test_ca.exe then trusts its CA inside the
# private prefix); host names are "localhost". "tls" serves the small store,
# "tlssamples" the samples; "tlsuntrusted", "tlswronghost", "tlsexpired",
# "tlsnotca" and "tlskeyusage" present a self-signed certificate, one for
# another host, an expired one, one issued by a certificate that is no CA and
# one whose key usage allows no TLS server.
# "trickle" sends every reply one byte every 100 ms, "tricklebody" the body
# only; "proxy" is loopback_proxy.py; "tlskeep" (keepalive_store.py) serves
# the small store over HTTPS and keeps its connections. Every server ends by itself after 600 s
# even when stop never runs.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
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
    if [ -r "/proc/$pid/cmdline" ] && tr '\0' ' ' <"/proc/$pid/cmdline" | grep -qE 'serve_store.py|loopback_proxy.py|keepalive_store.py'; then
      kill "$pid" 2>/dev/null || true
    fi
  done <"$pids"
  rm -f "$pids"
}

# start_server NAME ARGS...: sets PORT and records the server in the ini
# file and the pid list. start_proxy NAME does the same for a proxy.
start_server() {
  local name=$1
  shift
  start_store_server "$name" "$dir" "$@" --lifetime 600 --log "$dir/$name.log"
  record_server "$name"
}
start_proxy() {
  start_loopback_server "$1" "$dir" "$here/loopback_proxy.py" --lifetime 600 --log "$dir/$1.log"
  record_server "$1"
}
record_server() {
  echo "$SERVER_PID" >>"$pids"
  echo "$1=$PORT" >>"$ini"
  echo "$1 server on 127.0.0.1:$PORT"
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

    bash "$here/make-test-certs.sh" "$dir/tls"
    tls=(--cert "$dir/tls/localhost.pem" --key "$dir/tls/server.key")

    start_server mirror "$dir/store"
    mirror=$PORT
    start_server tls "$dir/store" "${tls[@]}" --redirect-prefix /tohttp/=http://127.0.0.1:$mirror/
    tlsport=$PORT
    start_server store "$dir/store" \
      --status 500=/error/ --status 410=/gone/ \
      --redirect-prefix /moved/=/ --redirect-prefix /loop/=/loop/ \
      --redirect-prefix /elsewhere/=http://127.0.0.1:$mirror/ \
      --redirect-prefix /tohttps/=https://localhost:$tlsport/ \
      --cut 1000=/cut/
    start_server mute "$dir/store" --mute
    for cert in untrusted wronghost expired notca keyusage; do
      start_server "tls$cert" "$dir/store" --cert "$dir/tls/$cert.pem" --key "$dir/tls/server.key"
    done
    start_server trickle "$dir/store" --trickle 100
    start_server tricklebody "$dir/store" --trickle-body 100
    start_proxy proxy
    start_loopback_server tlskeep "$dir" "$here/keepalive_store.py" "$dir/store" "${tls[@]}" --lifetime 600 \
      --log "$dir/tlskeep.log"
    record_server tlskeep
    if [ -n "${4:-}" ]; then
      samples=$(cd "$4" && pwd)
      start_server samples "$samples"
      # Both sample PDBs are longer than 3072 bytes: every PDB reply ends short.
      start_server samplescut "$samples/store" --cut 3072=/nb10.pdb/ --cut 3072=/rsds.pdb/ \
        --cut 3072=/dbgpdb.pdb/
      start_server tlssamples "$samples" "${tls[@]}"
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
