#!/usr/bin/env bash
# Exits 0 when this machine's kernel runs 32-bit x86 programs, 1 when it refuses them. Tries
# the smallest such program: a static 32-bit ELF that only exits with status 0. Some machines
# of this kind refuse them ("Exec format error"); 32-bit Wine cannot run there. Exits 2 when
# the probe cannot be built (as and ld come with binutils).
set -uo pipefail

probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
printf '.globl _start\n_start:\n  movl $1, %%eax\n  xorl %%ebx, %%ebx\n  int $0x80\n' >"$probe/exit.s"
if ! as --32 -o "$probe/exit.o" "$probe/exit.s" || ! ld -m elf_i386 -o "$probe/exit" "$probe/exit.o"; then
  echo "runs_32bit: cannot build the 32-bit probe program (as and ld, from binutils)" >&2
  exit 2
fi
if "$probe/exit" 2>/dev/null; then
  exit 0
fi
exit 1
