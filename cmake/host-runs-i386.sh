#!/usr/bin/env bash
# Exits 0 when this host's kernel runs 32-bit x86 programs, 1 when it does not
# (a kernel built or booted without IA-32 emulation answers ENOEXEC).
# It needs nothing installed: it writes a 96-byte static i386 ELF program that
# only calls exit(42), and runs it.
set -u
probe=$(mktemp "${TMPDIR:-/tmp}/qx3-i386-probe.XXXXXX") || exit 1
trap 'rm -f "$probe"' EXIT
{
  # ELF header: 32-bit, little-endian, executable for EM_386, entry 0x08048054,
  # one program header right after the 52-byte header.
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
  printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'
  printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00'
  printf '\x00\x00\x00\x00'
  # PT_LOAD of the whole file at 0x08048000, readable and executable.
  printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
  printf '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
  # mov eax, 1 (exit); mov ebx, 42; int 0x80
  printf '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80'
} >"$probe"
chmod +x "$probe"
"$probe" 2>/dev/null
[ $? -eq 42 ]
