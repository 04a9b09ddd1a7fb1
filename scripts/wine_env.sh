# Sourced by the scripts that run Windows programs: a Wine prefix of the build's width inside its
# build tree, a persistent wineserver so each program starts in milliseconds, and its shutdown.
# The width is x86_64 unless QUORVEL_WIDTH or use_width says i686.
QUORVEL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
WINE64=/usr/lib/wine/wine64

# Selects the width whose programs run next: its loader ($QUORVEL_WINE), its prefix and the
# prefix of its windowed tests. A 32-bit build runs in a 32-bit prefix (made so at its first start).
use_width() {
  QUORVEL_WIDTH=$1
  export WINEPREFIX="${WINEPREFIX_OVERRIDE:-$QUORVEL_ROOT/build/$QUORVEL_WIDTH/wineprefix}"
  # Windowed tests run in a prefix of their own (see tests/CMakeLists.txt).
  QUORVEL_WINDOWED_WINEPREFIX="$QUORVEL_ROOT/build/$QUORVEL_WIDTH/wineprefix-windowed"
  if [ "$QUORVEL_WIDTH" = i686 ]; then
    export WINEARCH=win32
    QUORVEL_WINE=/usr/lib/wine/wine
  else
    unset WINEARCH
    QUORVEL_WINE=$WINE64
  fi
}
use_width "${QUORVEL_WIDTH:-x86_64}"

start_wineserver() {
  mkdir -p "$WINEPREFIX"
  wineserver -p >/dev/null 2>&1 || true
  # The first start of a prefix launches Wine's background services; they must be up before a
  # test runs, or they inherit the test's output pipe and ctest waits on it.
  "$QUORVEL_WINE" wineboot </dev/null >/dev/null 2>&1 || true
  # A second drive letter for drive C, as a player may map one: tests of folders given under
  # two spellings use it.
  mkdir -p "$WINEPREFIX/dosdevices"
  ln -sfn ../drive_c "$WINEPREFIX/dosdevices/e:"
}

stop_wineserver() {
  wineserver -k >/dev/null 2>&1 || true
}
