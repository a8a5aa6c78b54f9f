#!/usr/bin/env bash
# make demo: the main job end to end on the built-in sample data. In the
# build's private Wine prefix it registers the proxy/stub and qx3fetch (with
# the override that makes it use our dbghelp.dll), serves the sample symbol
# store over HTTP on 127.0.0.1, and runs a client that does what the add-in
# does for each image the debugger reports: open the file, pass the handle and
# its own process id to ISymbolManager::GetSymbols, show the log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${QX3_BUILD:-$root/build}"
work="$build/testtmp/demo"
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; fi
  bash "$root/cmake/wine-prefix.sh" stop "$build"
}
bash "$root/cmake/wine-prefix.sh" reset "$build"
trap cleanup EXIT
. "$build/wine-env.sh"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

echo "== Registering qx3ps.dll and qx3fetch.exe in $WINEPREFIX"
bash "$root/cmake/register-server.sh" "$build"

rm -rf "$work" && mkdir -p "$work/cache" "$work/dest"
. "$root/samples/serve-store.sh"
start_store_server store "$work" "$build/samples/store" --lifetime 300
server_pid=$SERVER_PID
port=$PORT
symbol_path="srv*$(winpath "$work/cache")*http://127.0.0.1:$port"
echo "== Symbol store $build/samples/store served at http://127.0.0.1:$port"
echo "== Symbol path $symbol_path"
# The images a debugger of qx3fetch's own width sees: the i386 samples for
# the 32-bit build, the x64 ones for the 64-bit build (the manifest's "bits").
images=()
while read -r image; do images+=("$(winpath "$image")"); done < <(python3 - "$build/bin/qx3fetch.exe" "$build/samples" <<'PY'
import json, struct, sys
with open(sys.argv[1], "rb") as f:
    head = f.read(4096)
machine = struct.unpack_from("<H", head, struct.unpack_from("<I", head, 0x3C)[0] + 4)[0]
bits = 64 if machine == 0x8664 else 32
with open(sys.argv[2] + "/manifest.json") as f:
    for image in json.load(f)["images"]:
        if image["bits"] == bits:
            print(sys.argv[2] + "/" + image["file"])
PY
)
timeout 300 wine "$build/bin/qx3fetch_demo.exe" "$symbol_path" "$(winpath "$work/dest")" "${images[@]}"
