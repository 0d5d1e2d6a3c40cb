#!/usr/bin/env bash
# Makes the user guide's pictures (docs/images/*.png) from the real build/pdemu
# in a real X server (Xvfb, no window manager), on the demo firmware with both
# demo applications installed. Run it again after any change to a window.
# Usage: scripts/screenshots.sh [OUTPUT-FOLDER]   (default docs/images)
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/images}")
scripts/setup.sh
scripts/build.sh pdemu pdemu-run pdemu_demo_images
mkdir -p "$out"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_RUNTIME_DIR=$work/run
mkdir -m 700 "$work/run"

cat > "$work/inside.sh" <<'INSIDE'
#!/usr/bin/env bash
set -uo pipefail
out=$1 work=$2
. tests/frontend/xvfb-steps.sh
fw=$PWD/build/firmware
fail() { echo "screenshots: $*" >&2; exit 1; }
# A picture of one window (its client area; there is no window manager to
# draw frames), or of a rectangle of the screen.
window_shot() { sleep 0.4; import -window "$1" "$out/$2" || fail "no picture of $2"; echo "screenshots: $2"; }
area_shot() {
  sleep 0.4; import -window root -crop "$1" +repage "$out/$2" || fail "no picture of $2"; echo "screenshots: $2"
}
geometry() {  # ID: prints X Y W H
  xdotool getwindowgeometry --shell "$1" | awk -F= '$1 ~ /^(X|Y|WIDTH|HEIGHT)$/ { printf "%s ", $2 }'
}
# The client area of the device window ends with the organiser's 160x304 at zoom 1.
organiser_xy() {  # ORGANISER-X ORGANISER-Y at zoom 2: screen coordinates
  local x y w h; read -r x y w h <<<"$(geometry "$win")"
  echo $(( x + (w - 320) / 2 + 2 * $1 )) $(( y + h - 608 + 2 * $2 ))
}

# First run: no ROM configured yet.
QT_QPA_PLATFORM=xcb build/pdemu 2>"$work/first.err" &
first=$!
dialog=
for _ in $(seq 100); do
  dialog=$(xdotool search --onlyvisible --pid "$first" 2>/dev/null | tail -n1 || true)
  [ -n "$dialog" ] && break
  sleep 0.1
done
[ -n "$dialog" ] || fail "the first-run dialog did not appear"
window_shot "$dialog" first-run.png
# OK leads on to the file dialog.
xdotool windowfocus --sync "$dialog" key Return
chooser=
for _ in $(seq 100); do
  chooser=$(xdotool search --onlyvisible --pid "$first" 2>/dev/null | tail -n1 || true)
  [ -n "$chooser" ] && [ "$chooser" != "$dialog" ] && break
  sleep 0.1
done
[ -n "$chooser" ] && [ "$chooser" != "$dialog" ] || fail "no file dialog after the first-run box"
window_shot "$chooser" first-run-rom.png
kill "$first"; wait "$first" 2>/dev/null || true

QT_QPA_PLATFORM=xcb build/pdemu --rom "$fw/pdemu-demo.pgm" --save "$work/demo.sav" --zoom 2 \
  --install "$fw/painter.app" --install "$fw/breaker.app" 2>"$work/stderr" &
pid=$!
win=$(window_titled pdemu)
[ -n "$win" ] || fail "no device window"
xdotool windowmove --sync "$win" 20 20
sleep 3   # both installations and their warm restarts
# A pen stroke in the free area under the application list.
read -r sx sy <<<"$(organiser_xy 30 200)"
xdotool mousemove "$sx" "$sy" mousedown 1
for step in 1 2 3 4 5 6; do
  read -r mx my <<<"$(organiser_xy $(( 30 + 16 * step )) $(( 200 + (step % 2) * 10 )))"
  sleep 0.25; xdotool mousemove "$mx" "$my"
done
sleep 0.3; xdotool mouseup 1
sleep 1
window_shot "$win" device-window.png

# The menus, each with the window behind it.
read -r wx wy ww wh <<<"$(geometry "$win")"
menu_shot() {  # MENU-KEY FILE
  xdotool windowfocus --sync "$win" key "alt+$1"
  area_shot "${ww}x${wh}+$wx+$wy" "$2"
  xdotool key Escape
  sleep 0.2
}
menu_shot f file-menu.png
menu_shot o options-menu.png
menu_shot v view-menu.png

# The debug messages: what the firmware and the applications printed.
xdotool windowfocus --sync "$win" key alt+o; sleep 0.3; xdotool key d
messages=$(window_titled Debug-Messages)
[ -n "$messages" ] || fail "no debug message window"
xdotool windowmove --sync "$messages" 420 20
window_shot "$messages" debug-messages.png

# The debugger: opened, stepped a few instructions, a breakpoint typed.
xdotool windowfocus --sync "$win" key alt+o; sleep 0.3; xdotool key g
dbg=$(window_titled 'PdEmu Debugger V0.3B0')
[ -n "$dbg" ] || fail "no debugger window"
xdotool windowmove --sync "$dbg" 420 20
xdotool windowfocus --sync "$dbg"
for _ in 1 2 3 4 5; do xdotool key F11; sleep 0.2; done
window_shot "$dbg" debugger.png

# The Breakpoints window with a watchpoint and a log point.
xdotool key ctrl+b
points=$(window_titled Breakpoints)
[ -n "$points" ] || fail "no Breakpoints window"
xdotool windowmove --sync "$points" 20 700
xdotool windowfocus --sync "$points"
sleep 0.3
xdotool type 'write C000-C07F if A == 0'; xdotool key Return; sleep 0.3
xdotool type 'exec 0038 log tick {b@C000}'; xdotool key Return; sleep 0.3
window_shot "$points" breakpoints.png

# The Memory window on the firmware's variables.
xdotool windowfocus --sync "$dbg" key ctrl+m
memory=$(window_titled Memory)
[ -n "$memory" ] || fail "no Memory window"
xdotool windowmove --sync "$memory" 700 700
xdotool mousemove --window "$memory" 500 22 click 1
xdotool type C000; xdotool key Return
window_shot "$memory" memory.png

# A hexdump from PC.
xdotool windowfocus --sync "$dbg" key alt+h
hexdump=$(window_titled "pdemu's HexDump :-)")
[ -n "$hexdump" ] || fail "no hexdump window"
xdotool windowmove --sync "$hexdump" 1200 20
window_shot "$hexdump" hexdump.png

xdotool windowfocus --sync "$win" key Escape
ended "$pid" || { kill -KILL "$pid"; fail "pdemu did not end"; }
[ "$ended_status" -eq 0 ] || fail "pdemu ended with status $ended_status"

INSIDE
chmod +x "$work/inside.sh"

# An animation as pdemu-run records it: a pen stroke, in emulated time.
cat > "$work/stroke.txt" <<'STROKE'
4000000 pen 30 205 down
7000000 pen 50 220 move
10000000 pen 70 205 move
13000000 pen 90 220 move
16000000 pen 110 205 move
19000000 pen 130 220 move
22000000 pen 130 220 up
25000000 key MEMO down
29000000 key MEMO up
STROKE
build/pdemu-run --rom build/firmware/pdemu-demo.pgm --install build/firmware/painter.app --clock "2026-12-09 10:00:00" \
  --input "$work/stroke.txt" --tstates 32000000 --record-screen "$out/pen-stroke.png" >/dev/null
echo "screenshots: pen-stroke.png"

tests/frontend/with-xvfb.sh 1600x1200 "$work/inside.sh" "$out" "$work"
