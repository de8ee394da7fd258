# shellcheck shell=bash
# Sourced by the scripts that serve a publisher tree with the project's test
# FTP server (scripts/ftpserver.py) on an ephemeral port:
#   start_test_server ROOT PORTFILE [ftpserver.py options...]
#   start_test_server_in WRAPPER... -- ROOT PORTFILE [ftpserver.py options...]
#     the same with the server run under WRAPPER (such as `ip netns exec NAME`,
#     which must end by executing the server, so that the pid is the server's)
# Starts the server in the background, sets test_server_pid (the server is
# ended on exit, scripts/lib/on-exit.sh), and returns once PORTFILE holds the port. Returns 1 with
# the reason on stderr when the server ends first or no port appears within
# 20 s.

# shellcheck source=scripts/lib/on-exit.sh
source "$(dirname "${BASH_SOURCE[0]}")/on-exit.sh"
test_server_script="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/ftpserver.py"
test_server_pid=""

start_test_server() { start_test_server_in -- "$@"; }

start_test_server_in() {
  local wrapper=()
  while (($#)) && [[ $1 != -- ]]; do wrapper+=("$1"); shift; done
  (($#)) && shift
  if (($# < 2)); then
    echo "start_test_server: usage: start_test_server ROOT PORTFILE [options...]" >&2
    return 1
  fi
  local root=$1 port_file=$2 status _
  shift 2
  # A port file left by an earlier server would be read as this one's.
  rm -f "$port_file"
  "${wrapper[@]}" /usr/bin/python3 "$test_server_script" --root "$root" --port-file "$port_file" "$@" &
  test_server_pid=$!
  kill_on_exit "$test_server_pid"
  for _ in $(seq 200); do
    [[ -s $port_file ]] && return 0
    if ! kill -0 "$test_server_pid" 2>/dev/null; then
      status=0
      wait "$test_server_pid" || status=$?
      echo "start_test_server: the test server serving $root ended (exit $status) before it was listening" >&2
      return 1
    fi
    sleep 0.1
  done
  echo "start_test_server: the test server serving $root wrote no port to $port_file within 20 s" >&2
  return 1
}
