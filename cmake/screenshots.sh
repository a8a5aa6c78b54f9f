#!/usr/bin/env bash
# make screenshots: the add-in's three dialogs as they look on screen, drawn
# by Wine's X11 driver on a virtual X display (Xvfb), written as PNG files
# into docs/screenshots/ for the README. The stand-in IDE opens the settings
# dialog (filled with example values), the exclusions dialog and the about
# box, and takes a picture of each.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${QX3_BUILD:-$root/build}"
work="$build/testtmp/screenshots"
out="$root/docs/screenshots"

if ! command -v Xvfb >/dev/null 2>&1; then
  echo "Installing: xvfb"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends xvfb
fi

xvfb_pid=""
# Wine first: its processes would complain of the display going away.
cleanup() {
  bash "$root/cmake/wine-prefix.sh" stop "$build"
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
bash "$root/cmake/wine-prefix.sh" reset "$build"
trap cleanup EXIT
. "$build/wine-env.sh"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
quiet() { "$@" </dev/null >/dev/null 2>&1; }

# A display of our own. Xvfb picks a free number itself and writes it once
# it accepts connections: a number picked here could be taken by another run
# starting at the same moment, whose end would then take our display away.
display_file="$work.display"
rm -f "$display_file"
mkdir -p "$(dirname "$display_file")"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 3>"$display_file" &
xvfb_pid=$!
for _ in $(seq 1 600); do
  [ -s "$display_file" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.05
done
display=$(tr -dc 0-9 <"$display_file")
if [ -z "$display" ]; then
  echo "screenshots.sh: Xvfb did not start" >&2
  exit 1
fi
export DISPLAY=":$display"
# The prefix draws with the null driver for the tests: X11 here, with Wine
# drawing the window frames itself.
quiet timeout 60 wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11 /f
quiet timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f

rm -rf "$work"
mkdir -p "$work/Quillmar" "$out"
cp "$build"/bin/{qx3ide.dll,qx3trap.dll,help.html} "$work/Quillmar/"
(cd "$work/Quillmar" && quiet timeout 120 wine regsvr32 /s qx3ide.dll)
shot() { winpath "$work/$1.bmp"; }
quote() { python3 -c 'import sys; t=sys.argv[1]; print("\"" + t.replace("\\", "\\\\").replace("\"", "\\\"").replace("\r", "\\r").replace("\n", "\\n") + "\"")' "$1"; }
cat >"$work/screenshots.msdev" <<SCRIPT
enable Quillmar.IdeAddIn
connect firsttime
answer "Quillmar Configuration" radio 203 set 206 $(quote 'srv*C:\Symbols\Cache*http://symbols.example.com/symbols') set 208 $(quote 'C:\WINDOWS\symbols') set 213 $(quote 'C:\WINDOWS\symbols\exe;C:\WINDOWS\symbols\dll;C:\WINDOWS\symbols\ocx') picture $(quote "$(shot settings)") click 210
answer "Exclusions" set 214 $(quote $'mydriver.*\r\nthirdparty*.dll\r\n') picture $(quote "$(shot exclusions)") click 2
answer "Quillmar Configuration" click 212
answer "About Quillmar" picture $(quote "$(shot about)") click 1
answer "Quillmar Configuration" click 2
run QuillmarSettings
disconnect
SCRIPT
timeout 120 wine "$build/bin/msdev.exe" /script "$(winpath "$work/screenshots.msdev")"
python3 "$root/cmake/bmp_to_png.py" "$work/settings.bmp" "$out/settings.png" "$work/exclusions.bmp" \
    "$out/exclusions.png" "$work/about.bmp" "$out/about.png"
echo "== Screenshots in $out: settings.png, exclusions.png, about.png"
