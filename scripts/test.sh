#!/usr/bin/env bash
# The whole test suite from a fresh machine: installs what is missing, builds both widths,
# checks the product DLL's export and import tables, and runs every test of each width under
# Wine in prefixes of that width: first the headless ones, then the windowed ones on a private
# Xvfb display in a prefix of their own. The i686 suite runs the product itself (its end-to-end
# tests through the 32-bit rundll32.exe); where this machine cannot run 32-bit programs it is
# reported as not run and only the x86_64 suite runs.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh
scripts/check_dll.sh build/i686/bin/Quorvel.dll build/x86_64/bin/Quorvel.dll
# A tree that strays from .clang-format fails the suite, after its tests have run.
format_status=0
scripts/check_format.sh || format_status=1

# The i686 suite needs a kernel that runs 32-bit programs (setup.sh then installed 32-bit Wine).
runs_32bit=0
scripts/runs_32bit.sh || runs_32bit=$?
case "$runs_32bit" in
  0) widths=(i686 x86_64) ;;
  1) widths=(x86_64) ;;
  *) exit 1 ;;
esac

# Headless tests rely on having no display: message boxes return at once, dialogs fail to open.
unset DISPLAY
source scripts/wine_env.sh
source scripts/display_env.sh
stop_width() {
  WINEPREFIX="$QUORVEL_WINDOWED_WINEPREFIX" stop_wineserver
  stop_wineserver
}
trap 'stop_width; stop_display' EXIT

status=0
display=
declare -A passed failed not_run
not_run[i686]="this machine cannot run 32-bit programs"
# Runs ctest for the current width and adds its counts to the width's totals.
run_ctest() {
  local output="$QUORVEL_ROOT/build/$QUORVEL_WIDTH/ctest-output.txt"
  local rc=0
  ctest --preset "$QUORVEL_WIDTH" "$@" 2>&1 | tee "$output" || rc=$?
  [ "$rc" -eq 0 ] || status=1
  local summary
  summary=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$output" | tail -1 || true)
  if [[ "$summary" =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
    failed[$QUORVEL_WIDTH]=$((failed[$QUORVEL_WIDTH] + BASH_REMATCH[1]))
    passed[$QUORVEL_WIDTH]=$((passed[$QUORVEL_WIDTH] + BASH_REMATCH[2] - BASH_REMATCH[1]))
  elif [ "$rc" -ne 0 ]; then
    # ctest stopped before running anything, e.g. a test program that Wine could not start.
    echo "test: $QUORVEL_WIDTH: ctest ended without running its tests; counted as one failure" >&2
    failed[$QUORVEL_WIDTH]=$((failed[$QUORVEL_WIDTH] + 1))
  fi
}

for width in "${widths[@]}"; do
  echo
  echo "== $width tests"
  use_width "$width"
  start_wineserver
  # A kernel that runs 32-bit programs is not enough: 32-bit Wine must start one too.
  if [ "$width" = i686 ] && ! "$QUORVEL_WINE" cmd.exe /c exit 0 </dev/null >/dev/null 2>&1; then
    not_run[$width]="32-bit Wine cannot start a program here"
    stop_width
    continue
  fi
  passed[$width]=0
  failed[$width]=0
  run_ctest -LE windowed "$@"
  windowed=$(ctest --preset "$width" -N -L windowed "$@" 2>/dev/null || true)
  if [[ "$windowed" =~ Total\ Tests:\ [1-9] ]]; then
    if [ -z "$QUORVEL_XVFB_SERVER_PID" ]; then
      start_display
      display=$DISPLAY
    fi
    export DISPLAY=$display
    WINEPREFIX="$QUORVEL_WINDOWED_WINEPREFIX" start_wineserver
    run_ctest -L windowed "$@"
    unset DISPLAY
  fi
  # Only the width under test keeps Wine running.
  stop_width
done

echo
total_passed=0
total_failed=0
for width in i686 x86_64; do
  if [ -z "${passed[$width]+set}" ]; then
    echo "$width: not run: ${not_run[$width]}"
    continue
  fi
  echo "$width: ${passed[$width]} passed, ${failed[$width]} failed"
  total_passed=$((total_passed + passed[$width]))
  total_failed=$((total_failed + failed[$width]))
done
echo "$total_passed passed, $total_failed failed"
[ "$format_status" -eq 0 ] || status=1
exit "$status"
