# shellcheck shell=bash
# Sourced by the scripts that run the Windows programs by hand under Wine:
#   use_wine_prefix TREE
# exports the settings of the Windows tests (their Wine prefix TREE/build/windows/wine,
# so nothing is written to ~/.wine) and makes the prefix first if it is not
# there, as scripts/windows-test does: wineboot, and Tahoma in its Fonts folder.
use_wine_prefix() {
  export WINEPREFIX=$1/build/windows/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [[ ! -e $WINEPREFIX/system.reg ]]; then
    echo "making the Wine prefix $WINEPREFIX"
    env -u DISPLAY /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
    wineserver -w
  fi
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp -u /usr/share/wine/fonts/tahoma*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
}

# A prefix of its own in DIR with the registry of the prefix WINEPREFIX names
# copied, and that prefix's C: drive shared (a copy would be about 700 MB):
# settings written into it reach no other program run meanwhile. Exports
# WINEPREFIX=DIR; the caller ends its wineserver (WINEPREFIX=DIR wineserver -k).
twin_wine_prefix() {
  local twin=$1
  mkdir -p "$twin/dosdevices"
  cp "$WINEPREFIX"/.update-timestamp "$WINEPREFIX"/*.reg "$twin/"
  ln -s "$(cd "$WINEPREFIX/drive_c" && pwd)" "$twin/dosdevices/c:"
  ln -s / "$twin/dosdevices/z:"
  export WINEPREFIX=$twin
}

# Keeps one wineserver for the caller's programs and starts Wine's own services
# (which outlive the first program) with no output, so that they hold none of
# the caller's pipes open; the caller's end calls end_wine_server, which ends
# the server only when it was started here.
wine_server_kept=""
keep_wine_server() {
  if wineserver -p </dev/null >/dev/null 2>&1; then wine_server_kept=1; fi
  /usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1
}
end_wine_server() {
  [[ -z $wine_server_kept ]] || wineserver -k 2>/dev/null || true
}

# Whether the Windows build folder has the window program's target (it builds
# the terminal program in any case).
windows_has_window() {
  cmake --build "$1" --target help 2>/dev/null | grep -q '^VORNdownload: '
}
