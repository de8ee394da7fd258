# shellcheck shell=bash
# Sourced by the scripts that run the Windows programs by hand under Wine:
#   use_wine_prefix TREE
# exports the settings of the Windows tests (their Wine prefix TREE/build/windows/wine,
# so nothing is written to ~/.wine) and makes the prefix first if it is not
# there: wineboot, and Tahoma in its Fonts folder (Debian's Wine does not find
# its own).
# shellcheck source=scripts/lib/on-exit.sh
source "$(dirname "${BASH_SOURCE[0]}")/on-exit.sh"

use_wine_prefix() {
  export WINEPREFIX=$1/build/windows/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [[ ! -e $WINEPREFIX/system.reg ]]; then
    echo "making the Wine prefix $WINEPREFIX"
    env -u DISPLAY /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 ||
      { echo "use_wine_prefix: wineboot --init failed (exit $?) in $WINEPREFIX" >&2; return 1; }
    wineserver -w || { echo "use_wine_prefix: wineserver -w failed (exit $?)" >&2; return 1; }
  fi
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp -u /usr/share/wine/fonts/tahoma*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
}

# A prefix of its own in DIR with the registry of the prefix WINEPREFIX names
# copied, and that prefix's C: drive shared (a copy would be about 700 MB):
# settings written into it reach no other program run meanwhile. Exports
# WINEPREFIX=DIR; its wineserver is ended on exit.
twin_wine_prefix() {
  local twin=$1
  on_exit env WINEPREFIX="$twin" wineserver -k
  mkdir -p "$twin/dosdevices"
  cp "$WINEPREFIX"/.update-timestamp "$WINEPREFIX"/*.reg "$twin/"
  ln -s "$(cd "$WINEPREFIX/drive_c" && pwd)" "$twin/dosdevices/c:"
  ln -s / "$twin/dosdevices/z:"
  export WINEPREFIX=$twin
}

# Keeps one wineserver for the caller's programs and starts Wine's own services
# (which outlive the first program) with no output, so that they hold none of
# the caller's pipes open (ctest would wait on a test's output pipe until its
# timeout). A server another run keeps in the same prefix is used and left to
# that run; one started here is ended on exit.
keep_wine_server() {
  if wineserver -p </dev/null >/dev/null 2>&1; then on_exit env WINEPREFIX="$WINEPREFIX" wineserver -k; fi
  /usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1 ||
    { echo "keep_wine_server: wineboot failed (exit $?) in $WINEPREFIX" >&2; return 1; }
}

# Whether the Windows build folder has the window program's target (it builds
# the terminal program in any case).
windows_has_window() {
  cmake --build "$1" --target help 2>/dev/null | grep -q '^VORNdownload: '
}
