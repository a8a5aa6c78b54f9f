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
printf '[Settings]\r\nEnabled=1\r\nReportProgress=1\r\nUseNtSymPath=0\r\nSymPath=srv*%s*http://127.0.0.1:%s\r\nVCSymDir=%s\r\n' \
    "$(winpath "$work/cache")" "$PORT" "$dest" >"$work/Quillmar/qx3.ini"

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
echo "   with Quillmar, fetching from HTTP:    $fetched ms  ($copied of $count PDBs copied in the last session)"
