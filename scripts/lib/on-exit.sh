# shellcheck shell=bash
# Sourced by every script that leaves something behind while it runs: what it
# registers here is undone once, when the script ends, however it ends (its
# last line, an error under `set -e`, Ctrl-C or SIGTERM).
#   kill_on_exit PID...        processes, sent SIGTERM first, the last registered first
#   on_exit COMMAND [ARG...]   then commands, the last registered first; their failures are ignored
#   remove_on_exit PATH...     then files and folders, removed whole
#   make_work_dir VAR [PARENT [NAME]]
#                              a new folder NAME.XXXXXX in PARENT (default /tmp), set in VAR
#                              and removed on exit
# No script sets an EXIT trap of its own: it would replace this one.
[[ -z ${on_exit_loaded:-} ]] || return 0
on_exit_loaded=1
on_exit_pids=()
on_exit_commands=()
on_exit_paths=()

kill_on_exit() { on_exit_pids+=("$@"); }
on_exit() { on_exit_commands+=("$(printf '%q ' "$@")"); }
remove_on_exit() { on_exit_paths+=("$@"); }

make_work_dir() {
  local dir
  dir=$(mktemp -d "${2:-/tmp}/${3:-vorn}.XXXXXX")
  remove_on_exit "$dir"
  printf -v "$1" %s "$dir"
}

run_on_exit() {
  local i
  for ((i = ${#on_exit_pids[@]} - 1; i >= 0; i--)); do
    kill "${on_exit_pids[i]}" 2>/dev/null || true
  done
  for ((i = ${#on_exit_commands[@]} - 1; i >= 0; i--)); do
    eval "${on_exit_commands[i]}" >/dev/null 2>&1 || true
  done
  ((${#on_exit_paths[@]} == 0)) || rm -rf "${on_exit_paths[@]}"
}
trap run_on_exit EXIT
# Without these a signal would end bash without running the EXIT trap.
trap 'exit 130' INT
trap 'exit 143' TERM
