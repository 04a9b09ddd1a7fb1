#!/usr/bin/env bash
# Takes the documentation's pictures of Quorvel's windows: docs/progress-window.png,
# docs/question-box.png and docs/error-box.png in English, and
# docs/languages/<language>-progress.png, -question.png and -box.png for every language the DLL
# speaks (to check that no status line is cut). On a private Xvfb display it runs the end-to-end
# case of a failing patch once per language, as a player whose user interface speaks it: a held
# file keeps the progress window up through five attempts, then the player is asked (the watcher
# answers Cancel) and the error box comes. The window watcher saves each window as it sees it;
# they are converted to PNG here. Each language takes about 12 s; scripts/screenshots.sh de fr
# takes only those languages again.
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
# where Debian installs them; the prefix's font folder is always searched. Chinese, Japanese and
# Korean characters come from WenQuanYi Micro Hei, linked to the dialogs' font as Windows links
# its own CJK fonts.
if [ -d /usr/share/wine/fonts ]; then
  cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
fi
cjk=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc
if [ -f "$cjk" ]; then
  cp -n "$cjk" "$WINEPREFIX/drive_c/windows/Fonts/"
  for face in Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif"; do
    "$WINE64" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
      /v "$face" /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f \
      </dev/null >/dev/null 2>&1
  done
  # The boxes of a Chinese, Japanese or Korean player use that language's own Windows font.
  for face in "MS UI Gothic" "MS Gothic" "MS PGothic" Meiryo "Yu Gothic" Gulim Dotum \
    "Malgun Gothic" SimSun NSimSun "Microsoft YaHei" "Microsoft YaHei UI" PMingLiU MingLiU \
    "Microsoft JhengHei" "Microsoft JhengHei UI" 宋体 新宋体 微软雅黑 新細明體 細明體 微軟正黑體; do
    "$WINE64" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
      /v "$face" /t REG_SZ /d 'WenQuanYi Micro Hei' /f </dev/null >/dev/null 2>&1
    "$WINE64" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
      /v "$face" /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f \
      </dev/null >/dev/null 2>&1
  done
fi

mkdir -p docs/languages
# The language's tag in the guide, then the locale a player of it has.
languages=(
  "en-US en_US.UTF-8" "de de_DE.UTF-8" "fr fr_FR.UTF-8" "es es_ES.UTF-8" "it it_IT.UTF-8"
  "pt-BR pt_BR.UTF-8" "pl pl_PL.UTF-8" "ru ru_RU.UTF-8" "tr tr_TR.UTF-8" "ja ja_JP.UTF-8"
  "ko ko_KR.UTF-8" "zh-Hans zh_CN.UTF-8" "zh-Hant zh_TW.UTF-8"
)
for language in "${languages[@]}"; do
  tag=${language% *}
  # Given tags, only those languages are taken again.
  if [ $# -gt 0 ] && [[ " $* " != *" $tag "* ]]; then
    continue
  fi
  rm -rf "$shots/bmp"
  mkdir -p "$shots/bmp"
  QUORVEL_TEST_SCREENSHOT_LOCALE=${language#* } \
    QUORVEL_TEST_SCREENSHOTS=$("$WINE64" winepath -w "$shots/bmp" </dev/null 2>/dev/null) \
    "$WINE64" build/x86_64/bin/e2e_windowed_tests.exe --gtest_filter='*.AFailedPatch*' \
    </dev/null >/dev/null
  # The watcher numbers the windows in the order they came up.
  python3 scripts/bmp_to_png.py "$shots/bmp/1-progress.bmp" "docs/languages/$tag-progress.png"
  python3 scripts/bmp_to_png.py "$shots/bmp/2-box.bmp" "docs/languages/$tag-question.png"
  python3 scripts/bmp_to_png.py "$shots/bmp/3-box.bmp" "docs/languages/$tag-box.png"
done
cp docs/languages/en-US-progress.png docs/progress-window.png
cp docs/languages/en-US-question.png docs/question-box.png
cp docs/languages/en-US-box.png docs/error-box.png
echo "screenshots: docs/progress-window.png docs/question-box.png docs/error-box.png docs/languages/*.png"
