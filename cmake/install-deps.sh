#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, and nothing when all
# of it is already there. Runs as root (as on our machines) or through sudo.
# 64-bit Wine and both cross compilers always; 32-bit Wine (i386 packages) only
# where the host runs 32-bit code (QX3_HOST_I386=yes|no, probed when unset).
set -euo pipefail

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

host_i386=${QX3_HOST_I386:-}
if [ -z "$host_i386" ]; then
  if bash "$(dirname "$0")/host-runs-i386.sh"; then host_i386=yes; else host_i386=no; fi
fi

missing=()
need() { # need COMMAND PACKAGE
  command -v "$1" >/dev/null 2>&1 || missing+=("$2")
}
need wine wine
[ -x /usr/lib/wine/wine64 ] || missing+=(wine64)
need i686-w64-mingw32-g++-posix g++-mingw-w64-i686-posix
need x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix
need i686-w64-mingw32-widl mingw-w64-tools
need cmake cmake
need python3 python3
need clang clang
need ld.lld lld
need llvm-pdbutil llvm
need timeout coreutils
need flock util-linux
# The test CA and server certificates of the loopback HTTPS servers.
need openssl openssl
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
# libFuzzer's runtime, for make fuzz.
ls /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || missing+=(libclang-rt-14-dev)
# Wine's Schannel (TLS of the symbol library's https stores) runs on the
# host's gnutls, which Wine only recommends: one for each Wine architecture.
native=$(dpkg --print-architecture)
dpkg -s "libgnutls30:$native" >/dev/null 2>&1 || missing+=("libgnutls30:$native")
# The 32-bit Wine loader: without it wine cannot run i686 programs.
if [ "$host_i386" = yes ]; then
  dpkg -s wine32:i386 >/dev/null 2>&1 || missing+=(wine32:i386)
  dpkg -s libgnutls30:i386 >/dev/null 2>&1 || missing+=(libgnutls30:i386)
fi

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

# Dedupe while keeping order.
readarray -t missing < <(printf '%s\n' "${missing[@]}" | awk '!seen[$0]++')
echo "Installing: ${missing[*]}"
if [ "$host_i386" = yes ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
