#!/usr/bin/env bash
# with-xvfb.sh WIDTHxHEIGHT COMMAND [ARG...]: runs the command against a
# fresh Xvfb server of that screen size and stops the server afterwards. The
# server picks a free display itself (-displayfd), so servers started at the
# same time, or right after one another, never meet on one display number;
# -noreset, because a server that resets whenever its last client leaves
# refuses the next one for a moment (xdotool connects and leaves often).
set -uo pipefail
size=$1; shift
dir=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset 3>"$dir/display" 2>"$dir/log" &
server=$!
for _ in $(seq 100); do [ -s "$dir/display" ] && break; sleep 0.05; done
if [ ! -s "$dir/display" ]; then
  echo "with-xvfb: the X server did not start"; cat "$dir/log"; kill "$server" 2>/dev/null; rm -rf "$dir"; exit 1
fi
DISPLAY=":$(head -n1 "$dir/display")" "$@"
status=$?
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null
rm -rf "$dir"
exit "$status"
