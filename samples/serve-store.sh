# Sourced by the scripts that need a loopback symbol store server.
#   start_store_server NAME LOGDIR SERVE_STORE_ARGS...
# starts samples/serve_store.py with the given arguments, its output in
# LOGDIR/NAME.out and LOGDIR/NAME.err (never the caller's own output: CTest
# would wait for a pipe the server keeps open), and sets PORT and SERVER_PID
# once the server has announced its port. Fails when it does not start.
#   start_loopback_server NAME LOGDIR SCRIPT ARGS...
# does the same for any Python server that announces "PORT <n>" first.
start_store_server() {
  local name=$1 logdir=$2
  shift 2
  start_loopback_server "$name" "$logdir" "$(dirname "${BASH_SOURCE[0]}")/serve_store.py" "$@"
}

start_loopback_server() {
  local name=$1 logdir=$2 script=$3
  shift 3
  # Made here, so that the polling below never reads a file the background
  # start has not opened yet.
  : >"$logdir/$name.out"
  python3 "$script" "$@" </dev/null >"$logdir/$name.out" 2>"$logdir/$name.err" &
  SERVER_PID=$!
  PORT=""
  for _ in $(seq 1 200); do
    PORT=$(sed -n 's/^PORT \([0-9][0-9]*\)$/\1/p' "$logdir/$name.out" | head -n 1 || true)
    [ -n "$PORT" ] && return 0
    kill -0 "$SERVER_PID" 2>/dev/null || break
    sleep 0.05
  done
  echo "$(basename "$script") for '$name' did not start:" >&2
  cat "$logdir/$name.err" >&2
  return 1
}
