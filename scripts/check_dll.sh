#!/usr/bin/env bash
# Checks a built Quorvel.dll: the export directory names the module "Quorvel.dll", the exports
# are exactly ordinal 1 Quorvel, 2 QuorvelW and 3 _DllMain@12, and every imported DLL is a
# system DLL (the runtime is linked statically).
set -euo pipefail

dll="$1"
objdump=i686-w64-mingw32-objdump
dump=$("$objdump" -p "$dll")
failures=0

fail() {
  echo "check_dll: $*" >&2
  failures=$((failures + 1))
}

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
[ "$((16#$count))" = "3" ] || fail "the export address table has $((16#$count)) entries, expected 3"

system_dlls='^(kernel32|user32|shell32|advapi32|version|msvcrt|gdi32|ole32|oleaut32|ntdll|psapi|dbghelp|comctl32|shlwapi)\.dll$'
while read -r imported; do
  lower=$(tr 'A-Z' 'a-z' <<<"$imported")
  [[ "$lower" =~ $system_dlls ]] || fail "imports non-system DLL $imported"
done < <(awk '/DLL Name:/ {print $3}' <<<"$dump")

if [ "$failures" -ne 0 ]; then
  exit 1
fi
echo "check_dll: $dll exports ordinals 1 Quorvel, 2 QuorvelW, 3 _DllMain@12 as Quorvel.dll; imports only system DLLs"
