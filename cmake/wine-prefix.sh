#!/usr/bin/env bash
# Manages the build's private Wine prefix.
#   wine-prefix.sh reset BUILD_DIR   fresh prefix from a template, wineserver kept warm
#   wine-prefix.sh stop  BUILD_DIR   stops this prefix's wineserver (and no other)
# The template is made once per build tree; every reset copies it, so registry
# and INI state never carry over from one test run to the next.
set -euo pipefail
cmd=$1
build=$(cd "$2" && pwd)
prefix="$build/wineprefix"
template="$build/wineprefix-template"

export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# Runs a Wine command detached from our output and from the lock descriptor:
# wineserver and Wine's services outlive the command, and whatever they
# inherit stays open (CTest waits for its pipes; flock waits for fd 9).
detached() {
  "$@" </dev/null >/dev/null 2>&1 9>&-
}

stop_server() { # stop_server PREFIX
  if [ -d "$1" ]; then
    WINEPREFIX="$1" detached timeout 30 wineserver -k || true
    WINEPREFIX="$1" detached timeout 30 wineserver -w || true
  fi
}

make_template() {
  rm -rf "$template.tmp"
  WINEPREFIX="$template.tmp" detached timeout 300 wineboot -i
  # The null graphics driver lets windows and dialogs exist without a display.
  WINEPREFIX="$template.tmp" detached timeout 60 wine reg add 'HKCU\Software\Wine\Drivers' \
      /v Graphics /d null /f
  stop_server "$template.tmp"
  mv "$template.tmp" "$template"
}

case "$cmd" in
  reset)
    exec 9>"$build/.wineprefix.lock"
    flock 9
    [ -d "$template" ] || make_template
    stop_server "$prefix"
    rm -rf "$prefix"
    cp -a "$template" "$prefix"
    rm -rf "$build/testtmp" && mkdir -p "$build/testtmp"
    # A persistent server makes each program start in tens of milliseconds.
    # Wine's own services start with the first program and live as long as
    # the server: start them here, detached from the caller's output, or
    # CTest would wait for them to close its pipes.
    WINEPREFIX="$prefix" detached wineserver -p
    WINEPREFIX="$prefix" detached timeout 120 wine cmd /c exit
    ;;
  stop)
    stop_server "$prefix"
    ;;
  *)
    echo "usage: $0 reset|stop BUILD_DIR" >&2
    exit 2
    ;;
esac
