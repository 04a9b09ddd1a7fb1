#!/usr/bin/env bash
# The whole test suite from a fresh machine: installs what is missing, builds both widths,
# checks the product DLL's export and import tables, and runs every test under Wine: first the
# headless ones, then the windowed ones on a private Xvfb display in a Wine prefix of their own.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh
scripts/check_dll.sh build/i686/bin/Quorvel.dll build/x86_64/bin/Quorvel.dll

# Headless tests rely on having no display: message boxes return at once, dialogs fail to open.
unset DISPLAY
source scripts/wine_env.sh
source scripts/display_env.sh
stop_all() {
  WINEPREFIX="$QUORVEL_WINDOWED_WINEPREFIX" stop_wineserver
  stop_wineserver
  stop_display
}
trap stop_all EXIT
start_wineserver

status=0
passed=0
failed=0
# Runs ctest and adds its counts to the totals.
run_ctest() {
  local output="$QUORVEL_ROOT/build/x86_64/ctest-output.txt"
  ctest --preset x86_64 "$@" 2>&1 | tee "$output" || status=1
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
  local summary
  summary=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$output" | tail -1 || true)
  if [[ "$summary" =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
    failed=$((failed + BASH_REMATCH[1]))
    passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
  fi
}

run_ctest -LE windowed "$@"

windowed=$(ctest --preset x86_64 -N -L windowed "$@")
if [[ "$windowed" =~ Total\ Tests:\ [1-9] ]]; then
  start_display
  WINEPREFIX="$QUORVEL_WINDOWED_WINEPREFIX" start_wineserver
  run_ctest -L windowed "$@"
fi
echo
echo "$passed passed, $failed failed"
exit "$status"
