#!/usr/bin/env bash
# Checks that every C and C++ source of the tree is formatted as .clang-format says, with
# Debian's clang-format. Prints each file that differs and exits 1 if any does; `--fix` formats
# them in place instead.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t sources < <(git ls-files '*.c' '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
  clang-format -i "${sources[@]}"
  exit 0
fi
differ=()
for source in "${sources[@]}"; do
  clang-format "$source" | cmp -s - "$source" || differ+=("$source")
done
if [ ${#differ[@]} -ne 0 ]; then
  echo "format: ${#differ[@]} files differ from .clang-format (scripts/check_format.sh --fix formats them):" >&2
  printf '  %s\n' "${differ[@]}" >&2
  exit 1
fi
echo "format: ${#sources[@]} files as .clang-format says"
