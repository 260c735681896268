#!/usr/bin/env bash
# Exit status 0 when this machine executes 32-bit x86 code, which 32-bit Wine (and so the i686
# build's tests and the setup program) needs. Some machines of this kind have the kernel's 32-bit
# emulation switched off (dmesg: "32-bit emulation disabled"); there every 32-bit program fails with
# "Exec format error", and with wine32 installed even 64-bit programs no longer start, because the
# wine command then always takes the 32-bit loader. Tries a 96-byte 32-bit program that exits with 7.
set -u
probe=$(mktemp /tmp/runs-32bit.XXXXXX)
trap 'rm -f "$probe"' EXIT
# ELF header, one loadable segment at 0x08048000, then: mov eax,1; mov ebx,7; int 0x80.
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x07\x00\x00\x00\xcd\x80' >"$probe"
chmod +x "$probe"
"$probe" 2>/dev/null
[ $? -eq 7 ] && exit 0
echo "runs-32bit: this machine does not execute 32-bit code (the kernel's 32-bit emulation is off)" >&2
exit 1
