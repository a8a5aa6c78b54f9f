#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, and nothing when all
# of it is already there. Runs as root (as on our machines) or through sudo.
set -euo pipefail

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

missing=()
need() { # need COMMAND PACKAGE
  command -v "$1" >/dev/null 2>&1 || missing+=("$2")
}
need wine wine
need i686-w64-mingw32-g++-posix g++-mingw-w64-i686-posix
need i686-w64-mingw32-widl mingw-w64-tools
need cmake cmake
need python3 python3
need clang clang
need ld.lld lld
need llvm-pdbutil llvm
need timeout coreutils
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
# libFuzzer's runtime, for make fuzz.
ls /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || missing+=(libclang-rt-14-dev)
# The 32-bit Wine loader: without it wine cannot run i686 programs.
dpkg -s wine32:i386 >/dev/null 2>&1 || missing+=(wine32:i386)

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

# Dedupe while keeping order.
readarray -t missing < <(printf '%s\n' "${missing[@]}" | awk '!seen[$0]++')
echo "Installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
