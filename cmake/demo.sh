#!/usr/bin/env bash
# make demo: Quillmar end to end in the build's private Wine prefix. It
# installs the deliverables into a directory of their own and registers them
# (qx3ps.dll, qx3fetch.exe with our dbghelp.dll, qx3ide.dll), serves the
# sample symbol store over HTTP on 127.0.0.1, and starts the stand-in IDE
# (msdev.exe) with Quillmar enabled three times:
#   settings:   the first start, where the settings are entered in Quillmar's
#               dialog (symbol path of the HTTP store, destination, the IDE's
#               PDB directories, one excluded name);
#   first run:  a sample program that loads one image of each kind is debugged;
#   second run: the same session again, as after restarting the IDE.
# Each run shows the output window: Quillmar's "QUILLM: " lines for each new
# image and, after them, the debugger's own verdict on that image's symbols.
# It ends with a one-line summary and fails when the outcome is not the
# expected one.
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
quiet() { "$@" </dev/null >/dev/null 2>&1; }

# The images a debugger of the build's width sees, with the kind each shows.
if [ "$QX3_ARCH" = x64 ]; then
  build_name="64-bit"
  images=(nb1064.dll rsds64.exe dbgcv64.dll exports64.dll dbgpdb64.dll)
  excluded=(dbgpdb64.dll)
else
  build_name="32-bit"
  images=(nb10.dll rsds.exe dbgcv.dll exports.dll dbgpdb.dll)
  excluded=(dbgpdb.dll)
fi
declare -A kind=([nb10.dll]="PDB 2.00" [rsds.exe]="PDB 7.00" [dbgcv.dll]="DBG" [exports.dll]="export-only"
                 [dbgpdb.dll]="DBG and PDB 2.00, excluded" [nb1064.dll]="PDB 2.00" [rsds64.exe]="PDB 7.00"
                 [dbgcv64.dll]="DBG" [exports64.dll]="export-only" [dbgpdb64.dll]="DBG and PDB 2.00, excluded")

rm -rf "$work"
mkdir -p "$work/Quillmar" "$work/msdev" "$work/program" "$work/cache" "$work/dest"
echo "== Installing Quillmar into $(winpath "$work/Quillmar") and registering it in $WINEPREFIX"
cp "$build"/bin/{qx3ide.dll,qx3trap.dll,qx3fetch.exe,qx3ps.dll,dbghelp.dll,help.html} "$work/Quillmar/"
cp "$build"/bin/{msdev.exe,DEVDBG.PKG,TLLOC.DLL,DM.DLL} "$work/msdev/"
cp "$build/bin/vc6_debuggee.exe" "$work/program/sample.exe"
for image in "${images[@]}"; do cp "$build/samples/images/$image" "$work/program/"; done
(
  cd "$work/Quillmar"
  quiet timeout 120 wine regsvr32 /s qx3ps.dll
  quiet timeout 120 wine qx3fetch.exe /RegServer
  quiet timeout 120 wine reg add 'HKCU\Software\Wine\AppDefaults\qx3fetch.exe\DllOverrides' /v dbghelp /d native /f
  quiet timeout 120 wine regsvr32 /s qx3ide.dll
)

. "$root/samples/serve-store.sh"
start_store_server store "$work" "$build/samples/store" --lifetime 300
server_pid=$SERVER_PID
symbol_path="srv*$(winpath "$work/cache")*http://127.0.0.1:$PORT"
dest=$(winpath "$work/dest")
echo "== Symbol store $build/samples/store served at http://127.0.0.1:$PORT"
echo "== The sample program loads:"
for image in "${images[@]}"; do echo "     $image (${kind[$image]})"; done

debug_line="debug $(winpath "$work/program/sample.exe")"
for image in "${images[@]}"; do debug_line+=" $(winpath "$work/program/$image")"; done
quote() { python3 -c 'import sys; t=sys.argv[1]; print("\"" + t.replace("\\", "\\\\").replace("\"", "\\\"").replace("\r", "\\r").replace("\n", "\\n") + "\"")' "$1"; }
exclusions=""
for image in "${excluded[@]}"; do exclusions+="${image%.*}.*"$'\r\n'; done

cat >"$work/settings.msdev" <<EOF
enable Quillmar.IdeAddIn
connect firsttime
answer "Quillmar Configuration" check 201 1 check 216 1 radio 203 set 206 $(quote "$symbol_path") set 208 $(quote "$dest") set 213 $(quote "$dest\\exe;$dest\\dll") click 210
answer "Exclusions" set 214 $(quote "$exclusions") click 1
answer "Quillmar Configuration" click 1
run QuillmarSettings
disconnect
EOF
cat >"$work/debug.msdev" <<EOF
connect
$debug_line
disconnect
EOF

# Runs the stand-in IDE on a script, then waits (at most 30 s) until the
# qx3fetch that it started has ended by itself, as after closing the IDE: each
# run starts a server of its own.
status=0
server_running() { # a qx3fetch.exe of this prefix
  local pid
  for pid in $(pgrep -f 'qx3fetch\.exe' || true); do
    tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
  done
  return 1
}
msdev() { # msdev SCRIPT LOG
  (cd "$work/msdev" && timeout 240 wine msdev.exe /log "$(winpath "$2")" /script "$(winpath "$1")") || status=1
  for _ in $(seq 1 300); do
    server_running || return 0
    sleep 0.1
  done
  echo "qx3fetch.exe did not end" >&2
  status=1
}
echo "== Settings: msdev.exe started for the first time, Quillmar's settings entered in its dialog"
msdev "$work/settings.msdev" "$work/settings.log"
echo "== First run: msdev.exe debugging sample.exe"
msdev "$work/debug.msdev" "$work/first.log"
echo "== Second run: msdev.exe started again, debugging sample.exe"
msdev "$work/debug.msdev" "$work/second.log"
echo "== Symbol files in $dest:"
(cd "$work/dest" && find . -type f | sed 's|^\./|     |' | sort)

python3 "$root/cmake/demo_summary.py" "$build_name" "$build/samples/manifest.json" "$work" \
    "$(winpath "$work/program")" "${images[@]}" -- "${excluded[@]}" || status=1
exit $status
