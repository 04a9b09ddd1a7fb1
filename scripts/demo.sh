#!/usr/bin/env bash
# The main job: builds what it needs and runs Quorvel.dll the way a launcher does,
# through rundll32.exe under Wine, then prints the log that the run wrote.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh >/dev/null

source scripts/wine_env.sh
trap stop_wineserver EXIT
start_wineserver

appdata=$(winepath -u "$("$WINE64" cmd /c echo %LOCALAPPDATA% </dev/null 2>/dev/null | tr -d '\r')")
mkdir -p "$appdata/Brinmoor"
log="$appdata/Brinmoor/Quorvel.log"
before=$(stat -c %s "$log" 2>/dev/null || echo 0)

dll=$(winepath -w "$PWD/build/x86_64/bin/Quorvel.dll")
echo "demo: rundll32.exe $dll,Quorvel"
"$WINE64" rundll32.exe "$dll,Quorvel" </dev/null

echo "demo: the run wrote to $(winepath -w "$log"):"
tail -c +"$((before + 1))" "$log" | tr -d '\r'
