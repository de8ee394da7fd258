# shellcheck shell=bash
# Sourced by the scripts that show windows on a screen of their own, so that
# none shows on a desktop in use (the packages: scripts/setup display):
#   start_xvfb [WIDTHxHEIGHT]   an Xvfb screen (default 1024x768, 24 bits) on a
#                               display number Xvfb finds free, exported as
#                               DISPLAY once it accepts clients; ended on exit
#   start_openbox               the openbox window manager on it; ended on exit
# Returns 1 with the reason on stderr when Xvfb gives no display within 20 s.
# shellcheck source=scripts/lib/on-exit.sh
source "$(dirname "${BASH_SOURCE[0]}")/on-exit.sh"

start_xvfb() {
  local number
  number=$(mktemp /tmp/vorn-display.XXXXXX)
  remove_on_exit "$number"
  # Xvfb writes the display's number to fd 3 once it listens.
  Xvfb -displayfd 3 -screen 0 "${1:-1024x768}x24" -nolisten tcp 3>"$number" >/dev/null 2>&1 &
  kill_on_exit $!
  for _ in $(seq 200); do
    [[ -s $number ]] && break
    sleep 0.1
  done
  if [[ ! -s $number ]]; then
    echo "start_xvfb: Xvfb gave no display within 20 s" >&2
    return 1
  fi
  DISPLAY=":$(tr -dc 0-9 <"$number")"
  export DISPLAY
}

start_openbox() {
  openbox >/dev/null 2>&1 &
  kill_on_exit $!
}
