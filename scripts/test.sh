#!/usr/bin/env bash
# The whole test suite from a fresh machine: installs what is missing, builds both widths,
# checks the product DLL's export and import tables, and runs every test under Wine: first the
# headless ones, then the windowed ones on a private Xvfb display in a Wine prefix of their own.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh
scripts/check_dll.sh build/i686/bin/Quorvel.dll

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
ctest --preset x86_64 -LE windowed "$@" || status=$?

windowed=$(ctest --preset x86_64 -N -L windowed "$@")
if [[ "$windowed" =~ Total\ Tests:\ [1-9] ]]; then
  start_display
  WINEPREFIX="$QUORVEL_WINDOWED_WINEPREFIX" start_wineserver
  ctest --preset x86_64 -L windowed "$@" || status=$?
fi
exit "$status"
