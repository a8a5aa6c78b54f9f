#!/usr/bin/env bash
# Registers qx3fetch in the build's private Wine prefix, as an installer would:
#   register-server.sh BUILD_DIR
# the proxy/stub qx3ps.dll (regsvr32), the server (qx3fetch /RegServer), and
# the per-program override that makes the qx3fetch COM starts load our
# dbghelp.dll from its own directory (a process COM starts does not reliably
# inherit WINEDLLOVERRIDES).
set -euo pipefail
build=$(cd "$1" && pwd)
. "$build/wine-env.sh"
cd "$build/bin"
quiet() {
  "$@" </dev/null >/dev/null 2>&1
}
quiet timeout 120 wine regsvr32 /s qx3ps.dll
quiet timeout 120 wine qx3fetch.exe /RegServer
quiet timeout 120 wine reg add 'HKCU\Software\Wine\AppDefaults\qx3fetch.exe\DllOverrides' \
    /v dbghelp /d native /f
