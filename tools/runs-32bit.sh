#!/usr/bin/env bash
# Exits 0 when this machine's kernel executes 32-bit x86 programs, 1 when it does not (a kernel without IA-32
# emulation answers "Exec format error"). Wine's 32-bit side, and with it the tests of the 32-bit updater.exe,
# can only run where it does. The probe is the smallest static i386 ELF program: it calls exit(0) through
# int 0x80 and needs no library.
set -u
probe=$(mktemp "${TMPDIR:-/tmp}/runs-32bit.XXXXXX")
trap 'rm -f "$probe"' EXIT
# ELF header (52 bytes), one loadable segment at 0x08048000 (32 bytes), then the code at 0x08048054:
# mov eax, 1; xor ebx, ebx; int 0x80.
printf '%b' \
  '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
  '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
  '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00' \
  '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' \
  '\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
  '\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' > "$probe"
chmod +x "$probe"
"$probe" 2>/dev/null && exit 0
exit 1
