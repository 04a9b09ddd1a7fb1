#!/usr/bin/env bash
# The main job: a real patch run, the way a game launcher starts one. It lays out a sample game
# folder with a patch, lets the sample launcher start rundll32.exe Quorvel.dll,Quorvel and exit,
# waits until Quorvel has restarted the launcher, and prints the files, the log and the result
# the restarted launcher received. Runs under Xvfb when it is installed (the progress window is
# then real), headless otherwise. Each run lays the sample out afresh.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh >/dev/null

if [ -z "${QUORVEL_DEMO_DISPLAY:-}" ] && command -v xvfb-run >/dev/null 2>&1; then
  QUORVEL_DEMO_DISPLAY=xvfb exec xvfb-run -a "$0" "$@"
fi

demo="$PWD/build/demo"
# A prefix of its own: windowed and headless runs must not share one.
export WINEPREFIX_OVERRIDE="$demo/wineprefix"
source scripts/wine_env.sh

rm -rf "$demo/Game" "$demo/Patch" "$demo/Backup"
mkdir -p "$demo/Game/bin" "$demo/Game/data" "$demo/Patch/bin" "$demo/Patch/data/maps"
printf 'client library, version 1\n' >"$demo/Game/bin/client.dll"
printf 'strings, version 1\n' >"$demo/Game/data/strings.dat"
printf 'client library, version 2\n' >"$demo/Patch/bin/client.dll"
printf 'strings, version 2\n' >"$demo/Patch/data/strings.dat"
printf 'a new map\n' >"$demo/Patch/data/maps/harbour.map"
cp build/x86_64/bin/sample_launcher.exe "$demo/Game/DastryLauncher.exe"

run_demo() {
  start_wineserver
  local appdata log before
  appdata=$(winepath -u "$("$WINE64" cmd /c echo %LOCALAPPDATA% </dev/null 2>/dev/null | tr -d '\r')")
  mkdir -p "$appdata/Brinmoor"
  log="$appdata/Brinmoor/Quorvel.log"
  before=$(stat -c %s "$log" 2>/dev/null || echo 0)

  local dll game patch backup
  dll=$(winepath -w "$PWD/build/x86_64/bin/Quorvel.dll")
  game=$(winepath -w "$demo/Game")
  patch=$(winepath -w "$demo/Patch")
  backup=$(winepath -w "$demo/Backup")
  local arguments=(-text "Updating game files" "{pid}" "$patch" "$game" "$backup"
    3 'bin\client.dll' 'data\strings.dat' 'data\maps\harbour.map'
    "$game\DastryLauncher.exe" -restart "%QUORVEL_RESULT%")

  echo "demo: the launcher starts rundll32.exe $dll,Quorvel ${arguments[*]} ({pid} is its own id) and exits"
  # The progress window's thread prints its diagnostics to standard output: keep them aside.
  "$WINE64" "$demo/Game/DastryLauncher.exe" --start-patch "$dll" "${arguments[@]}" \
    </dev/null >"$demo/rundll32-output.txt" 2>>"$demo/wine.log"

  # Quorvel restarts the launcher at the end of the run; the launcher records what it got.
  local record="$demo/Game/DastryLauncher.record.txt"
  for _ in $(seq 1 120); do
    [ -s "$record" ] && break
    sleep 0.5
  done
  # Asked while Wine still runs: winepath would start it again.
  local log_name
  log_name=$(winepath -w "$log")
  stop_wineserver

  echo
  echo "demo: files after the run"
  (cd "$demo" && for f in $(find Game Patch Backup -type f ! -name '*.exe' ! -name '*.txt' 2>/dev/null | sort); do
    printf '  %-28s %s\n' "$f" "$(cat "$f")"
  done)
  echo
  echo "demo: the log ($log_name):"
  tail -c +"$((before + 1))" "$log" | tr -d '\r' | sed 's/^/  /'
  echo
  if [ -s "$record" ]; then
    echo "demo: the restarted launcher received:"
    tr -d '\r' <"$record" | sed 's/^/  /'
  else
    echo "demo: the launcher was not restarted within 60 seconds" >&2
    return 1
  fi
}

run_demo
