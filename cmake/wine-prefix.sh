#!/usr/bin/env bash
# Manages the build's private Wine prefix.
#   wine-prefix.sh reset BUILD_DIR   fresh prefix from a template, wineserver kept warm
#   wine-prefix.sh stop  BUILD_DIR   stops this prefix's wineserver (and no other)
# The template is made once per build tree; every reset copies it, so registry
# and INI state never carry over from one test run to the next. The build's
# wine-env.sh says which Wine (32- or 64-bit) and which prefix kind to use.
set -euo pipefail
cmd=$1
build=$(cd "$2" && pwd)
prefix="$build/wineprefix"
template="$build/wineprefix-template"

. "$build/wine-env.sh"
unset WINEPREFIX
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

# Says why no test can run when this build's Wine cannot start at all, instead
# of leaving every test "Not Run" after a silent fixture failure.
explain_wine_failure() {
  echo "wine-prefix.sh: cannot start $QX3_ARCH Wine ($WINELOADER) for $build." >&2
  if [ "$QX3_ARCH" = x86 ] && ! bash "$(dirname "$0")/host-runs-i386.sh"; then
    echo "This host runs no 32-bit code: test the 64-bit build (make test ARCH=x64)." >&2
  elif [ ! -x "$WINELOADER" ]; then
    echo "$WINELOADER is not installed: run make deps." >&2
  fi
}

make_template() {
  rm -rf "$template.tmp"
  if ! WINEPREFIX="$template.tmp" detached timeout 300 wineboot -i; then
    explain_wine_failure
    exit 1
  fi
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
    if ! WINEPREFIX="$prefix" detached timeout 120 wine cmd /c exit; then
      explain_wine_failure
      exit 1
    fi
    ;;
  stop)
    stop_server "$prefix"
    ;;
  *)
    echo "usage: $0 reset|stop BUILD_DIR" >&2
    exit 2
    ;;
esac
