# Sourced by the scripts that run Windows programs: one Wine prefix inside the build tree, a
# persistent wineserver so each program starts in milliseconds, and its shutdown on exit.
QUORVEL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX_OVERRIDE:-$QUORVEL_ROOT/build/x86_64/wineprefix}"
# Windowed tests run in a prefix of their own (see tests/CMakeLists.txt).
QUORVEL_WINDOWED_WINEPREFIX="$QUORVEL_ROOT/build/x86_64/wineprefix-windowed"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
WINE64=/usr/lib/wine/wine64

start_wineserver() {
  mkdir -p "$WINEPREFIX"
  wineserver -p >/dev/null 2>&1 || true
  # The first start of a prefix launches Wine's background services; they must be up before a
  # test runs, or they inherit the test's output pipe and ctest waits on it.
  "$WINE64" wineboot </dev/null >/dev/null 2>&1 || true
  # A second drive letter for drive C, as a player may map one: tests of folders given under
  # two spellings use it.
  mkdir -p "$WINEPREFIX/dosdevices"
  ln -sfn ../drive_c "$WINEPREFIX/dosdevices/e:"
}

stop_wineserver() {
  wineserver -k >/dev/null 2>&1 || true
}
