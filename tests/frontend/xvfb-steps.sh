# Steps the Xvfb tests share, sourced by their scripts. Each waits up to 10 s.

# The id of the visible window whose title is exactly TITLE, or nothing.
window_titled() {
  local id=
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1)
    [ -n "$id" ] && break
    sleep 0.1
  done
  echo "$id"
}

# True once process PID has ended; its exit status is then in $ended_status.
ended() {
  for _ in $(seq 100); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$1" 2>/dev/null && return 1
  wait "$1"; ended_status=$?
  return 0
}
