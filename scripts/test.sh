#!/usr/bin/env bash
# The whole test suite from a fresh machine: installs what is missing, builds both widths,
# checks the product DLL's export and import tables, and runs every test under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh
scripts/check_dll.sh build/i686/bin/Quorvel.dll

source scripts/wine_env.sh
trap stop_wineserver EXIT
start_wineserver
ctest --preset x86_64 "$@"
