#!/usr/bin/env bash
# The main job: a real patch run, the way a game launcher starts one. It lays out a sample game
# folder with a patch, lets the sample launcher start rundll32.exe Quorvel.dll,Quorvel and exit,
# waits until Quorvel has restarted the launcher, and prints the files, the log and the result
# the restarted launcher received. Runs the product, the i686 Quorvel.dll, through the 32-bit
# rundll32.exe where this machine runs 32-bit programs, and the x86_64 build otherwise. Runs
# under Xvfb when it is installed (the progress window is then real), headless otherwise. Each
# run lays the sample out afresh.
set -euo pipefail
cd "$(dirname "$0")/.."

# Once: the run under xvfb-run below starts this script again.
if [ -z "${QUORVEL_DEMO_DISPLAY:-}" ]; then
  scripts/setup.sh
  scripts/build.sh >/dev/null
fi

if [ -z "${QUORVEL_DEMO_DISPLAY:-}" ] && command -v xvfb-run >/dev/null 2>&1; then
  QUORVEL_DEMO_DISPLAY=xvfb exec xvfb-run -a "$0" "$@"
fi

width=x86_64
why="this machine cannot run 32-bit programs"
if scripts/runs_32bit.sh; then
  width=i686
  why="the product"
fi
bin="$PWD/build/$width/bin"

demo="$PWD/build/demo"
# A prefix of its own for each width: windowed and headless runs must not share one.
export WINEPREFIX_OVERRIDE="$demo/wineprefix-$width"
export QUORVEL_WIDTH=$width
source scripts/wine_env.sh

rm -rf "$demo/Game" "$demo/Patch" "$demo/Backup"
mkdir -p "$demo/Game/bin" "$demo/Game/data" "$demo/Patch/bin" "$demo/Patch/data/maps"
printf 'client library, version 1\n' >"$demo/Game/bin/client.dll"
printf 'strings, version 1\n' >"$demo/Game/data/strings.dat"
printf 'client library, version 2\n' >"$demo/Patch/bin/client.dll"
printf 'strings, version 2\n' >"$demo/Patch/data/strings.dat"
printf 'a new map\n' >"$demo/Patch/data/maps/harbour.map"
cp "$bin/sample_launcher.exe" "$demo/Game/DastryLauncher.exe"

# Paths between the two systems, by the width's own loader: the winepath command picks 32-bit Wine
# whenever it is installed.
to_windows() { "$QUORVEL_WINE" winepath -w "$1" </dev/null 2>/dev/null; }
to_unix() { "$QUORVEL_WINE" winepath -u "$1" </dev/null 2>/dev/null; }

run_demo() {
  start_wineserver
  local appdata log before
  appdata=$(to_unix "$("$QUORVEL_WINE" cmd /c echo %LOCALAPPDATA% </dev/null 2>/dev/null | tr -d '\r')")
  mkdir -p "$appdata/Brinmoor"
  log="$appdata/Brinmoor/Quorvel.log"
  before=$(stat -c %s "$log" 2>/dev/null || echo 0)

  local dll game patch backup
  dll=$(to_windows "$bin/Quorvel.dll")
  game=$(to_windows "$demo/Game")
  patch=$(to_windows "$demo/Patch")
  backup=$(to_windows "$demo/Backup")
  local arguments=(-text "Updating game files" "{pid}" "$patch" "$game" "$backup"
    3 'bin\client.dll' 'data\strings.dat' 'data\maps\harbour.map'
    "$game\DastryLauncher.exe" -restart "%QUORVEL_RESULT%")

  echo "demo: the $width Quorvel.dll ($why) under $QUORVEL_WINE"
  echo "demo: the launcher starts rundll32.exe $dll,Quorvel ${arguments[*]} ({pid} is its own id) and exits"
  # The progress window's thread prints its diagnostics to standard output: keep them aside.
  "$QUORVEL_WINE" "$demo/Game/DastryLauncher.exe" --start-patch "$dll" "${arguments[@]}" \
    </dev/null >"$demo/rundll32-output.txt" 2>>"$demo/wine.log"

  # Quorvel restarts the launcher at the end of the run; the launcher records what it got.
  local record="$demo/Game/DastryLauncher.record.txt"
  for _ in $(seq 1 120); do
    [ -s "$record" ] && break
    sleep 0.5
  done
  # Asked while Wine still runs: winepath would start it again.
  local log_name
  log_name=$(to_windows "$log")
  stop_wineserver

  echo
  echo "demo: files after the run"
  (cd "$demo" && for f in $(find Game Patch Backup -type f ! -name '*.exe' ! -name '*.txt' 2>/dev/null | sort); do
    # The run's journal is binary: its size only.
    if [ "$(tr -d '\000' <"$f" | wc -c)" -ne "$(stat -c %s "$f")" ]; then
      printf '  %-28s (%s bytes, binary)\n' "$f" "$(stat -c %s "$f")"
    else
      printf '  %-28s %s\n' "$f" "$(cat "$f")"
    fi
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
