#!/usr/bin/env bash
# Takes the documentation's pictures of Quorvel's windows, docs/progress-window.png,
# docs/question-box.png and docs/error-box.png. On a private Xvfb display it runs the end-to-end
# case of a failing patch: a held file keeps the progress window up through five attempts, then
# the player is asked (the watcher answers Cancel) and the error box comes. The window watcher
# saves each window as it sees it; they are converted to PNG here.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh >/dev/null

shots="$PWD/build/screenshots"
# A prefix of its own, set up for pictures (below); the tests' prefixes stay as they are.
export WINEPREFIX_OVERRIDE="$shots/wineprefix"
source scripts/wine_env.sh
source scripts/display_env.sh
trap 'stop_wineserver; stop_display' EXIT
start_display
start_wineserver
# The display has no window manager: Wine then draws the frames and captions itself.
"$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f \
  </dev/null >/dev/null 2>&1
# Wine's own fonts (Tahoma for dialogs, Marlett for the caption's close button) are not found
# where Debian installs them; the prefix's font folder is always searched.
if [ -d /usr/share/wine/fonts ]; then
  cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
fi

rm -rf "$shots/bmp"
mkdir -p "$shots/bmp"
QUORVEL_TEST_SCREENSHOTS=$("$WINE64" winepath -w "$shots/bmp" </dev/null 2>/dev/null) "$WINE64" \
  build/x86_64/bin/e2e_windowed_tests.exe --gtest_filter='*.AFailedPatch*' </dev/null

# The watcher numbers the windows in the order they came up.
taken="$shots/bmp"
python3 scripts/bmp_to_png.py "$taken/1-progress.bmp" docs/progress-window.png
python3 scripts/bmp_to_png.py "$taken/2-box.bmp" docs/question-box.png
python3 scripts/bmp_to_png.py "$taken/3-box.bmp" docs/error-box.png
echo "screenshots: docs/progress-window.png docs/question-box.png docs/error-box.png"
