#!/usr/bin/env bash
# The IDE session benchmark of make bench: the stand-in IDE debugs a program
# that loads 100 DLLs, each with a PDB 2.00 of its own, three ways:
#   without Quillmar                       the debugger alone, every PDB in
#                                          place;
#   with Quillmar, symbols already in place every PDB already in the
#                                          destination: one request per image;
#   with Quillmar, fetching from HTTP      empty destination and cache: every
#                                          PDB downloaded from the store.
# Each way runs three sessions and reports their median; the ratio of the
# second to the first is the add-in's cost (goal: 1.3 at most).
# Then the remote stores: the same program, and imports.exe importing from
# the same 100 DLLs, against a store 50 ms away (round trip), first sessions
# with empty caches (one each), and for imports.exe a second session in the
# same IDE; figures only, the goals printed beside them.
#   run-session-bench.sh BUILD_DIR
# The prefix must be fresh (bench.sh resets it). Quillmar is installed from a
# copy of its files, so that nothing is written beside the build's binaries.
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=$(cd "$1" && pwd)
work="$build/testtmp/session-bench"
count=100
server_pid=""
trap 'if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; fi' EXIT
. "$build/wine-env.sh"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
quiet() { "$@" </dev/null >/dev/null 2>&1; }

rm -rf "$work"
mkdir -p "$work/Quillmar" "$work/msdev" "$work/program" "$work/dest/dll" "$work/cache"
machine=i386
[ "$QX3_ARCH" = x64 ] && machine=amd64
python3 "$root/platform/vc6ide/bench/make_session_dlls.py" "$work/dlls" "$count" "$machine"
cp "$work"/dlls/images/*.dll "$work/program/"
cp "$build/bin/vc6_debuggee.exe" "$work/program/session.exe"
cp "$build"/bin/{qx3ide.dll,qx3trap.dll,qx3fetch.exe,qx3ps.dll,dbghelp.dll} "$work/Quillmar/"
cp "$build"/bin/{msdev.exe,DEVDBG.PKG,TLLOC.DLL,DM.DLL} "$work/msdev/"
(
  cd "$work/Quillmar"
  quiet timeout 120 wine regsvr32 /s qx3ps.dll
  quiet timeout 120 wine qx3fetch.exe /RegServer
  quiet timeout 120 wine reg add 'HKCU\Software\Wine\AppDefaults\qx3fetch.exe\DllOverrides' /v dbghelp /d native /f
  quiet timeout 120 wine regsvr32 /s qx3ide.dll
)
dest=$(winpath "$work/dest")
quiet timeout 60 wine reg add \
    'HKCU\SOFTWARE\Microsoft\DevStudio\6.0\Build System\Components\Platforms\Win32 (x86)\Directories' \
    /v "Pdb Dirs" /d "$dest\\dll" /f

. "$root/samples/serve-store.sh"
start_store_server session "$work" "$work/dlls/store" --lifetime 600
server_pid=$SERVER_PID
# write_settings SYMPATH [LINE]: Quillmar's settings for the next IDE run,
# with a fresh start: the add-in takes qx3.ini over into the user's INI once,
# so that copy goes, and so does the list of images the last session loaded.
write_settings() {
  find "$WINEPREFIX/drive_c/users" \( -iname qx3user.ini -o -iname qx3loaded.txt \) -delete 2>/dev/null || true
  printf '[Settings]\r\nEnabled=1\r\nReportProgress=1\r\nUseNtSymPath=0\r\nSymPath=%s\r\nVCSymDir=%s\r\n%s' \
      "$1" "$dest" "${2:+$2$'\r\n'}" >"$work/Quillmar/qx3.ini"
}
http_path="srv*$(winpath "$work/cache")*http://127.0.0.1:$PORT"
write_settings "$http_path"

debug_line="debug $(winpath "$work/program/session.exe")"
for dll in "$work"/program/*.dll; do debug_line+=" $(winpath "$dll")"; done

# Runs msdev.exe on the script lines given and prints the session times (ms)
# it recorded, one per line.
sessions() {
  printf '%s\n' "$@" >"$work/run.msdev"
  (cd "$work/msdev" && timeout 600 wine msdev.exe /log "$(winpath "$work/run.log")" \
      /quiet /script "$(winpath "$work/run.msdev")") || { echo "msdev.exe failed" >&2; exit 1; }
  sed -n 's/^msdev: debugging ended: .* images, \([0-9]*\) ms\r\{0,1\}$/\1/p' "$work/run.log"
  rm -f "$work/run.log"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "   (sessions of session.exe loading $count DLLs; median of 3 each)"
# The debugger finds every PDB in both sessions compared, so that the
# difference is the add-in's work alone.
cp "$work"/dlls/symbols/*.pdb "$work/dest/dll/"
plain=$(sessions "$debug_line" "$debug_line" "$debug_line" | median)

# Quillmar connects when the IDE starts, long before a session: the idle time
# lets its worker start qx3fetch first.
in_place=$(sessions "enable Quillmar.IdeAddIn" "connect" "idle 3000" "$debug_line" "$debug_line" "$debug_line" \
           "disconnect" | median)
write_settings "$http_path" "Prefetch=0"
in_place_off=$(sessions "connect" "idle 3000" "$debug_line" "$debug_line" "$debug_line" "disconnect" | median)
write_settings "$http_path"

fetch_times=()
for _ in 1 2 3; do
  rm -rf "$work/dest" "$work/cache"
  mkdir -p "$work/dest/dll" "$work/cache"
  fetch_times+=("$(sessions "connect" "idle 3000" "$debug_line" "disconnect")")
done
fetched=$(printf '%s\n' "${fetch_times[@]}" | median)
copied=$(find "$work/dest/dll" -name '*.pdb' | wc -l)

ratio=$(awk -v a="$in_place" -v b="$plain" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')
verdict=$(awk -v r="$ratio" 'BEGIN { print (r <= 1.3 ? "within" : "over") }')
echo "   without Quillmar:                     $plain ms"
echo "   with Quillmar, symbols in place:      $in_place ms  (ratio $ratio, $verdict the goal of 1.3)"
echo "   the same with Prefetch=0:             $in_place_off ms"
echo "   with Quillmar, fetching from HTTP:    $fetched ms  ($copied of $count PDBs copied in the last session)"

# Remote stores: the store far away, behind samples/latency_proxy.py (25 ms
# each way, a new connection one round trip more), as a user meets a real
# symbol server. Each first session starts with an empty destination and
# cache: hits over HTTPS (every PDB in the store), misses over HTTP (a store
# with none). The figures are each session's time over the session without
# the add-in, and what the store saw.
delay_ms=25
rtt_ms=$((2 * delay_ms))
remote_pids=()
stop_remote() {
  for pid in "${remote_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  remote_pids=()
}
trap 'stop_remote; if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; fi' EXIT

bash "$root/dbghelp/tests/make-test-certs.sh" "$work/tls"
quiet timeout 60 wine "$build/bin/trust_test_ca.exe" "$(winpath "$work/tls/ca.der")"
mkdir -p "$work/empty-store" "$work/imports"
cp "$work"/dlls/images/*.dll "$work/dlls/imports.exe" "$work/imports/"
imports_line="debug $(winpath "$work/imports/imports.exe")"

# start_remote NAME hits|misses: a keep-alive store (HTTPS for hits, HTTP for
# misses) behind the latency proxy, counting into $work/NAME.stats; points
# Quillmar at it with an empty destination and cache.
start_remote() {
  local name=$1 url
  if [ "$2" = hits ]; then
    start_store_server "$name" "$work" "$work/dlls/store" --keep-alive --stats "$work/$name.stats" \
        --cert "$work/tls/localhost.pem" --key "$work/tls/server.key" --lifetime 600
  else
    start_store_server "$name" "$work" "$work/empty-store" --keep-alive --stats "$work/$name.stats" --lifetime 600
  fi
  remote_pids+=("$SERVER_PID")
  start_loopback_server "$name-proxy" "$work" "$root/samples/latency_proxy.py" "$PORT" \
      --delay-ms "$delay_ms" --lifetime 600
  remote_pids+=("$SERVER_PID")
  if [ "$2" = hits ]; then url="https://localhost:$PORT"; else url="http://127.0.0.1:$PORT"; fi
  rm -rf "$work/dest" "$work/cache"
  mkdir -p "$work/dest/dll" "$work/cache"
  write_settings "srv*$(winpath "$work/cache")*$url"
}
# store_seen STATS [EARLIER]: the requests and connections the store saw,
# since EARLIER ("REQUESTS CONNECTIONS") when given.
store_seen() {
  awk -v earlier="${2:-0 0}" '{ v[$1] = $2 } END { split(earlier, e, " ")
    printf "%d requests, %d connections", v["requests"] - e[1], v["connections"] - e[2] }' "$1"
}
store_counts() { awk '{ v[$1] = $2 } END { print v["requests"], v["connections"] }' "$1"; }
over() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%+.1f s", (a - b) / 1000 }'; }

# Baselines: the debugger alone, with every PDB in place (as after hits) and
# with none (as after misses).
baseline() {
  rm -rf "$work/dest"
  mkdir -p "$work/dest/dll"
  [ "$2" = hits ] && cp "$work"/dlls/symbols/*.pdb "$work/dest/dll/"
  sessions "disable Quillmar.IdeAddIn" "$1" "$1" "$1" "enable Quillmar.IdeAddIn" | median
}

# first_session LABEL DEBUG_LINE hits|misses GOAL_TEXT GOAL_SECONDS [second]
first_session() {
  local label=$1 line=$2 kind=$3 goal_text=$4 goal_s=$5 second=${6:-} plain times first
  plain=$(baseline "$line" "$kind")
  start_remote "remote-$kind" "$kind"
  if [ "$second" != second ]; then
    first=$(sessions "connect" "idle 3000" "$line" "disconnect")
    echo "   $label: $(over "$first" "$plain") over the session without the add-in ($first ms against $plain ms)"
    echo "      store: $(store_seen "$work/remote-$kind.stats")   goal: at most +$goal_s s; $goal_text"
    if [ "$second" = remembered ]; then
      # A later IDE run with the caches emptied: the images the last session
      # loaded at run time are prefetched with the static imports.
      local earlier
      earlier=$(store_counts "$work/remote-$kind.stats")
      rm -rf "$work/dest" "$work/cache"
      mkdir -p "$work/dest/dll" "$work/cache"
      first=$(sessions "connect" "idle 3000" "$line" "disconnect")
      echo "   $label, next IDE run, caches emptied, last session's images remembered:" \
           "$(over "$first" "$plain") ($first ms)"
      echo "      store: $(store_seen "$work/remote-$kind.stats" "$earlier")"
    fi
  else
    # The second session runs in the same IDE: the store's counts are read
    # while the IDE idles between the two, once the first's work has settled.
    printf '%s\n' "connect" "idle 3000" "$line" "idle 2000" "echo between sessions" "idle 1500" "$line" \
        "disconnect" >"$work/run.msdev"
    rm -f "$work/run.log"
    (cd "$work/msdev" && timeout 600 wine msdev.exe /log "$(winpath "$work/run.log")" \
        /quiet /script "$(winpath "$work/run.msdev")") &
    local msdev_pid=$! between=""
    while kill -0 "$msdev_pid" 2>/dev/null; do
      if [ -z "$between" ] && grep -q "between sessions" "$work/run.log" 2>/dev/null; then
        between=$(store_counts "$work/remote-$kind.stats")
      fi
      sleep 0.05
    done
    wait "$msdev_pid" || { echo "msdev.exe failed" >&2; exit 1; }
    times=($(sed -n 's/^msdev: debugging ended: .* images, \([0-9]*\) ms\r\{0,1\}$/\1/p' "$work/run.log"))
    echo "   $label: $(over "${times[0]}" "$plain") over the session without the add-in (${times[0]} ms against $plain ms)"
    [ -n "$between" ] || { echo "the IDE never reached its second session" >&2; exit 1; }
    echo "      store: $(awk '{ printf "%d requests, %d connections", $1, $2 }' <<<"$between")   goal: at most +$goal_s s; $goal_text"
    echo "   $label, second session in the same IDE: $(over "${times[1]}" "$plain") (${times[1]} ms)"
    echo "      store: $(store_seen "$work/remote-$kind.stats" "$between")   goal: the second session asks the store nothing"
  fi
  stop_remote
}

goal_s=$(awk -v r="$rtt_ms" 'BEGIN { printf "%.1f", (100 * r + 1500) / 1000 }')
echo "== Remote stores ($delay_ms ms each way, a new connection one round trip more; first sessions, empty caches)"
first_session "session.exe loading $count DLLs, hits over HTTPS" "$debug_line" hits \
    "one request per PDB, a handful of connections" "$goal_s" remembered
first_session "session.exe loading $count DLLs, misses over HTTP" "$debug_line" misses \
    "at most three requests per image, a handful of connections" "$goal_s" remembered
first_session "imports.exe importing from $count DLLs, hits over HTTPS" "$imports_line" hits \
    "one request per PDB, a handful of connections" "2.0" second
first_session "imports.exe importing from $count DLLs, misses over HTTP" "$imports_line" misses \
    "at most three requests per image, a handful of connections" "2.0" second
