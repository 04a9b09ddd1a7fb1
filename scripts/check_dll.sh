#!/usr/bin/env bash
# Checks built Quorvel.dll files (32- or 64-bit, each named on the command line): the export
# directory names the module "Quorvel.dll", the exports are exactly ordinal 1 Quorvel,
# 2 QuorvelW and 3 _DllMain@12; every imported DLL is one that Windows maps from its KnownDLLs
# list (any other name is searched for beside the host first, where a planted file would be
# loaded); the DLL asks for ASLR and DEP (and high-entropy ASLR when 64-bit); and it carries no
# debug sections.
set -euo pipefail

if [ "$#" -eq 0 ]; then
  echo "usage: $0 <Quorvel.dll>..." >&2
  exit 2
fi

# KnownDLLs of the Windows versions Quorvel runs on (HKLM\SYSTEM\CurrentControlSet\Control\
# Session Manager\KnownDLLs), and ntdll, which every process has loaded before any DLL.
known_dlls='^(advapi32|comdlg32|gdi32|imm32|kernel32|msvcrt|ntdll|ole32|oleaut32|psapi|rpcrt4|shell32|shlwapi|user32|ws2_32)\.dll$'

IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA=0x0020
IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE=0x0040
IMAGE_DLLCHARACTERISTICS_NX_COMPAT=0x0100

failures=0
fail() {
  echo "check_dll: $dll: $*" >&2
  failures=$((failures + 1))
}

for dll in "$@"; do
  failures_before=$failures
  if [ ! -f "$dll" ]; then
    fail "no such file"
    continue
  fi
  format=$(x86_64-w64-mingw32-objdump -f "$dll" | awk '/file format/ {print $NF; exit}')
  case "$format" in
    pei-i386) objdump=i686-w64-mingw32-objdump; bits=32 ;;
    pei-x86-64) objdump=x86_64-w64-mingw32-objdump; bits=64 ;;
    *) fail "not a Windows DLL (file format '$format')"; continue ;;
  esac
  dump=$("$objdump" -p "$dll")

  module=$(awk '/^Name[ \t]/ {print $NF; exit}' <<<"$dump")
  [ "$module" = "Quorvel.dll" ] || fail "export directory names '$module', expected Quorvel.dll"

  base=$(awk '/^Ordinal Base/ {print $NF; exit}' <<<"$dump")
  # Ordinal = base + the index in the ordinal/name table.
  exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^[[:space:]]*$/p' <<<"$dump" |
    sed -n 's/^[[:space:]]*\[[[:space:]]*\([0-9]*\)\][[:space:]]*\(.*\)$/\1 \2/p' |
    while read -r index name; do echo "$((base + index)) $name"; done)
  expected=$'1 Quorvel\n2 QuorvelW\n3 _DllMain@12'
  [ "$exports" = "$expected" ] || fail "exports are:"$'\n'"$exports"$'\n'"expected:"$'\n'"$expected"

  count=$(awk '/Export Address Table[ \t]+[0-9a-fA-F]+$/ {print $NF; exit}' <<<"$dump")
  [ "$((16#${count:-0}))" = "3" ] || fail "the export address table has $((16#${count:-0})) entries, expected 3"

  imports=$(awk '/DLL Name:/ {print $3}' <<<"$dump")
  [ -n "$imports" ] || fail "imports no DLL at all (is the import table readable?)"
  while read -r imported; do
    [ -n "$imported" ] || continue
    lower=$(tr 'A-Z' 'a-z' <<<"$imported")
    [[ "$lower" =~ $known_dlls ]] || fail "imports $imported, which is not a KnownDLL"
  done <<<"$imports"
  # Delay-loaded DLLs are searched for like any other.
  delay_size=$(awk '/Delay Import Directory/ {print $4; exit}' <<<"$dump")
  [ "$((16#${delay_size:-0}))" = 0 ] || fail "has a delay-import table"

  characteristics=$(awk '/^DllCharacteristics/ {print $2; exit}' <<<"$dump")
  characteristics=$((16#${characteristics:-0}))
  ((characteristics & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE)) || fail "lacks DYNAMIC_BASE (ASLR)"
  ((characteristics & IMAGE_DLLCHARACTERISTICS_NX_COMPAT)) || fail "lacks NX_COMPAT (DEP)"
  if [ "$bits" = 64 ]; then
    ((characteristics & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA)) ||
      fail "lacks HIGH_ENTROPY_VA (64-bit ASLR)"
  fi

  debug=$("$objdump" -h "$dll" | awk '$2 ~ /^\.(z?debug|stab)/ {print $2}' | tr '\n' ' ')
  [ -z "$debug" ] || fail "carries debug sections: $debug"

  if [ "$failures" -eq "$failures_before" ]; then
    echo "check_dll: $dll ($bits-bit): exports ordinals 1 Quorvel, 2 QuorvelW, 3 _DllMain@12 as" \
      "Quorvel.dll; imports only KnownDLLs ($(tr '\n' ' ' <<<"$imports" | sed 's/ $//'));" \
      "DllCharacteristics 0x$(printf '%04x' "$characteristics"); no debug sections"
  fi
done

if [ "$failures" -ne 0 ]; then
  exit 1
fi
