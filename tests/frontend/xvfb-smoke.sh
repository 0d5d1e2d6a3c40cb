#!/usr/bin/env bash
# The real build/pdemu in a real X server: starts it on the demo firmware,
# waits for the home screen, taps the display with a real X mouse click,
# checks the screenshot right side up (the firmware's title bar at the top,
# the button strip's frame at the bottom, the pen's mark where the click
# was), then presses Escape and checks that the save file was written; then
# ends a second run by SIGTERM while the About box is up, and checks the
# same; then ends a first run (no settings) by SIGTERM in its dialogue.
# Usage: xvfb-smoke.sh PDEMU ROM   (exit 77: no X tools on this machine;
# PDEMU_SHOT=FILE.png keeps the last screenshot)
set -uo pipefail
pdemu=$1 rom=$2
# ImageMagick from Debian's package, by its full path: a machine may have
# another "convert" earlier on the PATH.
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
QT_QPA_PLATFORM=xcb "$pdemu" --rom "$rom" --save "$work/demo.sav" --zoom 1 2>"$work/stderr" &
pid=$!
# A program that hangs ignores SIGTERM: it is killed outright.
fail() { echo "FAIL: $*"; cat "$work/stderr"; kill -KILL "$pid" 2>/dev/null; exit 1; }
win=$(window_titled pdemu)
[ -n "$win" ] || fail "no window"
# Grey level (0-255) of a pixel of the client area, counted from its top
# left; the client area is the bottom 160x304 of the window (the menu bar
# is above it).
shot() { /usr/bin/import -window "$win" "$work/shot.png" 2>/dev/null; }
level() {
  local h; h=$(/usr/bin/identify -format '%h' "$work/shot.png")
  /usr/bin/convert "$work/shot.png" -crop "1x1+$1+$(( h - 304 + $2 ))" -colorspace gray -format '%[fx:int(255*u)]' info:
}
# A window mapped but not yet painted is black all over: the title bar counts
# only once the paper below it shows too.
booted=
for _ in $(seq 100); do
  shot && [ "$(level 2 2)" -lt 64 ] && [ "$(level 80 239)" -gt 192 ] && { booted=1; break; }
  sleep 0.1
done
[ -n "$booted" ] || fail "the firmware's title bar never appeared at the top"
[ "$(level 80 240)" -lt 64 ] || fail "no strip frame at row 240"
[ "$(level 80 303)" -lt 64 ] || fail "no strip frame at row 303"
[ "$(level 80 239)" -gt 192 ] || fail "row 239 should be paper"
[ "$(level 100 150)" -gt 192 ] || fail "the display is not blank where the pen will go"
# A real click: the firmware marks the touched pixel.
h=$(/usr/bin/identify -format '%h' "$work/shot.png")
xdotool mousemove --window "$win" 100 $(( h - 304 + 150 )) mousedown 1
marked=
for _ in $(seq 100); do
  shot && [ "$(level 100 150)" -lt 64 ] && { marked=1; break; }
  sleep 0.1
done
xdotool mouseup 1
[ -n "$marked" ] || fail "the pen's mark never appeared under the click"
[ -n "${PDEMU_SHOT:-}" ] && cp "$work/shot.png" "$PDEMU_SHOT"
xdotool windowfocus --sync "$win" key Escape
ended "$pid" || fail "Escape did not end the program"
[ "$ended_status" -eq 0 ] || fail "exit status $ended_status"
size=$(stat -c %s "$work/demo.sav" 2>/dev/null || echo 0)
[ "$size" -eq 2228224 ] || fail "save file has $size bytes"

# SIGTERM (logout) ends it the same way, with the save written, also while a
# modal box (About) is up.
rm -f "$work/demo.sav"
QT_QPA_PLATFORM=xcb "$pdemu" --rom "$rom" --save "$work/demo.sav" --zoom 1 2>"$work/stderr" &
pid=$!
win=$(window_titled pdemu)
[ -n "$win" ] || fail "no window on the second start"
xdotool windowfocus --sync "$win" key alt+h
sleep 0.3
xdotool key Return
[ -n "$(window_titled 'about pdemu')" ] || fail "the About box did not open"
kill -TERM "$pid"
ended "$pid" || fail "SIGTERM did not end the program while the About box was up"
[ "$ended_status" -eq 0 ] || fail "exit status $ended_status after SIGTERM"
size=$(stat -c %s "$work/demo.sav" 2>/dev/null || echo 0)
[ "$size" -eq 2228224 ] || fail "save file has $size bytes after SIGTERM"

# SIGTERM during the first-run dialogue (no settings yet): the box closes,
# nothing more is asked, the machine never starts and nothing is stored.
rm -rf "$XDG_CONFIG_HOME"
QT_QPA_PLATFORM=xcb "$pdemu" 2>"$work/stderr" &
pid=$!
[ -n "$(window_titled pdemu)" ] || fail "the first-run box did not open"
kill -TERM "$pid"
ended "$pid" || fail "SIGTERM did not end the first-run dialogue"
[ "$ended_status" -eq 0 ] || fail "exit status $ended_status after SIGTERM in the first run"
! grep -qs OSRomFile "$XDG_CONFIG_HOME/Morvek/pdemu.conf" || fail "the first run stored a ROM after SIGTERM"
echo "ok: window drawn right side up, pen mark under the click, Escape and SIGTERM saved 2228224 bytes;" \
     "SIGTERM ended the first-run dialogue"
INSIDE
chmod +x "$work/inside.sh"
XVFB_STEPS="$(dirname "$0")/xvfb-steps.sh" "$(dirname "$0")/with-xvfb.sh" 640x800 "$work/inside.sh" "$pdemu" "$rom" "$work"
