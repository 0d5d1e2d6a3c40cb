#!/usr/bin/env bash
# A session recorded in the real build/pdemu in a real X server, replayed by
# build/pdemu-run without a window. The window records through File > Record
# Session... (its file dialog typed into), the pen taps the display with real
# X clicks the firmware marks, File > Stop Recording writes the session, and
# the hidden PDEMU_SESSION_END_STATE hook writes the machine as the recording
# left it. Then the quick slots by their real keys: Ctrl+Shift+2 writes the
# slot beside the save file, Ctrl+2 loads it without a word, Ctrl+3 (empty)
# says so in a box. Escape ends the program with the save file written.
# Last, pdemu-run --replay SESSION --save-state OUT must end in exactly the
# state the window had: the two state files are compared byte for byte.
# Usage: xvfb-session.sh PDEMU PDEMU-RUN ROM
# (exit 77: no X tools on this machine, or a pdemu-run without --replay and
# --save-state, after the window's part has passed; PDEMU_SHOT=FILE.png keeps
# the screenshot taken while recording)
set -uo pipefail
pdemu=$1 runner=$2 rom=$3
for tool in Xvfb xdotool /usr/bin/import /usr/bin/convert /usr/bin/identify; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_RUNTIME_DIR=$work/run
mkdir -m 700 "$work/run"

cat > "$work/inside.sh" <<'INSIDE'
#!/usr/bin/env bash
set -uo pipefail
pdemu=$1 rom=$2 work=$3
. "$XVFB_STEPS"
PDEMU_SESSION_END_STATE=$work/end.state QT_QPA_PLATFORM=xcb \
  "$pdemu" --rom "$rom" --save "$work/demo.sav" --zoom 1 2>"$work/stderr" &
pid=$!
fail() { echo "FAIL: $*"; cat "$work/stderr"; kill -KILL "$pid" 2>/dev/null; exit 1; }
win=$(window_titled pdemu)
[ -n "$win" ] || fail "no window"
shot() { /usr/bin/import -window "$win" "$work/shot.png" 2>/dev/null; }
# Grey level (0-255) of an organiser pixel: the client area is the bottom
# 160x304 of the window, under the menu bar.
level() {
  local h; h=$(/usr/bin/identify -format '%h' "$work/shot.png")
  /usr/bin/convert "$work/shot.png" -crop "1x1+$1+$(( h - 304 + $2 ))" -colorspace gray -format '%[fx:int(255*u)]' info:
}
until_level() {  # X Y below|above LEVEL
  for _ in $(seq 100); do
    if shot; then
      local v; v=$(level "$1" "$2")
      if [ "$3" = below ]; then [ "$v" -lt "$4" ] && return 0; else [ "$v" -gt "$4" ] && return 0; fi
    fi
    sleep 0.1
  done
  return 1
}
until_file() { for _ in $(seq 100); do [ -s "$1" ] && return 0; sleep 0.1; done; return 1; }
# A pen tap, held until the firmware has marked the pixel.
tap() {
  local h; h=$(/usr/bin/identify -format '%h' "$work/shot.png")
  xdotool mousemove --window "$win" "$1" $(( h - 304 + $2 )) mousedown 1
  until_level "$1" "$2" below 64 || { xdotool mouseup 1; fail "no pen mark at $1,$2"; }
  xdotool mouseup 1
}
# A file menu item by its mnemonic (the menu opens with Alt+F).
file_item() { xdotool windowfocus --sync "$win" key alt+f; sleep 0.3; xdotool key "$1"; }

until_level 2 2 below 64 || fail "the firmware's title bar never appeared"
# A window mapped but not yet painted is black all over, the taps' points too.
until_level 80 239 above 192 || fail "the paper below the title bar never appeared"
file_item r
sleep 0.5
# Qt's own save dialog: the name field takes a full path, Enter confirms.
xdotool key ctrl+a
xdotool type "$work/taps.session"
xdotool key Return
[ -n "$(window_titled 'pdemu [(]recording[)]')" ] || fail "Record Session... did not start a recording"
for point in "30 60" "120 100" "80 200"; do
  # shellcheck disable=SC2086
  tap $point
done
[ -n "${PDEMU_SHOT:-}" ] && cp "$work/shot.png" "$PDEMU_SHOT"
file_item r
[ -n "$(window_titled pdemu)" ] || fail "Stop Recording did not end the recording"
until_file "$work/taps.session" || fail "Stop Recording wrote no session file"
until_file "$work/end.state" || fail "the end-state hook wrote nothing"

# The quick slots by their real keys.
xdotool windowfocus --sync "$win" key ctrl+shift+2
until_file "$work/demo.sav.slot2.state" || fail "Ctrl+Shift+2 wrote no quick slot beside the save file"
xdotool key ctrl+2
sleep 0.5
[ "$(xdotool search --onlyvisible --name '^pdemu$' | wc -l)" -eq 1 ] || fail "Ctrl+2 on a saved slot showed a box"
xdotool key ctrl+3
box=
for _ in $(seq 50); do
  [ "$(xdotool search --onlyvisible --name '^pdemu$' | wc -l)" -eq 2 ] && { box=1; break; }
  sleep 0.1
done
[ -n "$box" ] || fail "Ctrl+3 on an empty slot said nothing"
xdotool key Return
sleep 0.3
xdotool windowfocus --sync "$win" key Escape
ended "$pid" || fail "Escape did not end the program"
[ "$ended_status" -eq 0 ] || fail "exit status $ended_status"
[ "$(stat -c %s "$work/demo.sav" 2>/dev/null || echo 0)" -eq 2228224 ] || fail "no save file"
echo "ok: recorded three real pen taps into $(stat -c %s "$work/taps.session") bytes with the end state;" \
     "Ctrl+Shift+2 saved slot 2, Ctrl+2 loaded it, Ctrl+3 said the slot is empty; Escape saved"
INSIDE
chmod +x "$work/inside.sh"
XVFB_STEPS="$(dirname "$0")/xvfb-steps.sh" "$(dirname "$0")/with-xvfb.sh" 640x800 \
  "$work/inside.sh" "$pdemu" "$rom" "$work" || exit 1

help=$("$runner" --help 2>&1)
if ! grep -q -- '--replay' <<<"$help" || ! grep -q -- '--save-state' <<<"$help"; then
  echo "skipped: $runner has no --replay and --save-state yet; the window's part passed"
  exit 77
fi
"$runner" --rom "$rom" --replay "$work/taps.session" --save-state "$work/replayed.state" >"$work/replay.out" 2>&1 ||
  { echo "FAIL: the replay failed"; cat "$work/replay.out"; exit 1; }
cmp -s "$work/end.state" "$work/replayed.state" ||
  { echo "FAIL: the replay did not end in the window's end state"; cat "$work/replay.out"; exit 1; }
echo "ok: pdemu-run --replay ended in exactly the state the window had when the recording stopped"
