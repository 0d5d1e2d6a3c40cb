#!/usr/bin/env bash
# The real build/pdemu in a real X server, on a ROM that prints and then
# executes the break trap (ED FF): the debugger window must come up by
# itself with the machine held; a screenshot of it is taken (PDEMU_SHOT=FILE
# keeps it), then Escape on the device window must end the program with the
# save file written although the debugger holds the machine. Then, on the
# demo firmware, the run keys with the keyboard focus in a breakpoint field
# or on Hexdump (controls that Go disables): each time the machine must run
# and Shift+F5 stop it, a breakpoint typed on the firmware's main loop must
# stop it by itself, and Escape must still end the program with the save
# file written. What the machine does is read off the debugger's status line.
# Usage: xvfb-debugger.sh PDEMU DEMO-ROM   (exit 77: no X tools on this machine)
set -uo pipefail
pdemu=$1 demo=$2
for tool in Xvfb xdotool /usr/bin/import /usr/bin/convert /usr/bin/identify; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_RUNTIME_DIR=$work/run
mkdir -m 700 "$work/run"
# DI; LD SP,0; LD HL,0010; print; break trap; INC HL; JR -3; "hello\n" at 0010.
printf '\xf3\x31\x00\x00\x21\x10\x00\xed\xfe\xed\xff\x23\x18\xfd\x00\x00hello\n\x00' > "$work/trap.pgm"

cat > "$work/inside.sh" <<'INSIDE'
#!/usr/bin/env bash
set -uo pipefail
pdemu=$1 work=$2 demo=$3
. "$XVFB_STEPS"
QT_QPA_PLATFORM=xcb "$pdemu" --rom "$work/trap.pgm" --save "$work/trap.sav" --zoom 1 2>"$work/stderr" &
pid=$!
# A program that hangs ignores SIGTERM: it is killed outright.
fail() { echo "FAIL: $*"; cat "$work/stderr"; kill -KILL "$pid" 2>/dev/null; exit 1; }
dbg=$(window_titled 'PdEmu Debugger V0.3B0')
[ -n "$dbg" ] || fail "the break trap did not open the debugger window"
sleep 0.5
/usr/bin/import -window "$dbg" "$work/debugger.png" 2>/dev/null || fail "no screenshot"
size=$(/usr/bin/identify -format '%wx%h' "$work/debugger.png")
[ "${size%x*}" -ge 300 ] && [ "${size#*x}" -ge 300 ] || fail "debugger window is only $size"
[ -n "${PDEMU_SHOT:-}" ] && cp "$work/debugger.png" "$PDEMU_SHOT"
win=$(xdotool search --onlyvisible --name '^pdemu$' | head -n1)
[ -n "$win" ] || fail "no device window"
xdotool windowfocus --sync "$win" key Escape
ended "$pid" || fail "Escape did not end the program while the debugger held the machine"
[ "$ended_status" -eq 0 ] || fail "exit status $ended_status"
[ "$(stat -c %s "$work/trap.sav" 2>/dev/null || echo 0)" -eq 2228224 ] || fail "no save file"
echo "ok: the break trap opened the debugger ($size); Escape ended the held machine with the save written"

# The run keys from the fields. The focus moves with Tab and Shift+Tab as a
# keyboard user moves it: the debugger window opens with the focus in its
# listing, and Go moves it from a control it disables to Stop.
rm -f "$work/demo.sav"
QT_QPA_PLATFORM=xcb "$pdemu" --rom "$demo" --save "$work/demo.sav" --zoom 1 2>"$work/stderr" &
pid=$!
win=$(window_titled pdemu)
[ -n "$win" ] || fail "no device window on the demo firmware"
sleep 0.5
xdotool windowfocus --sync "$win" key alt+o
sleep 0.3
xdotool key g
dbg=$(window_titled 'PdEmu Debugger V0.3B0')
[ -n "$dbg" ] || fail "Options > Debugger did not open the debugger window"
xdotool windowfocus --sync "$dbg"
# The status line: the bottom rows of the window, as a signature.
status() {
  /usr/bin/import -window "$dbg" "$work/dbg.png" 2>/dev/null &&
    /usr/bin/convert "$work/dbg.png" -gravity South -crop x20+0+0 +repage -format '%#' info:
}
# Waits until the status line shows something other than the given ones; prints it.
status_other_than() {
  local now
  for _ in $(seq 100); do
    now=$(status)
    case " $* " in *" $now "*) sleep 0.1 ;; *) echo "$now"; return 0 ;; esac
  done
  return 1
}
# Until the status line is the given one.
status_is() {
  for _ in $(seq 100); do [ "$(status)" = "$1" ] && return 0; sleep 0.1; done
  return 1
}
back() { for _ in $(seq "$1"); do xdotool key shift+Tab; done; }
sleep 0.5
stopped=$(status)
back 10                                   # the listing back to breakpoint field 1
xdotool type 1234
xdotool key F5
running=$(status_other_than "$stopped") || fail "F5 in breakpoint field 1 did not run the machine (or hung)"
xdotool key shift+F5
status_is "$stopped" || fail "Shift+F5 did not stop the machine after F5"
back 7                                    # Stop back to breakpoint field 1
xdotool key F9
animating=$(status_other_than "$stopped" "$running") || fail "F9 in breakpoint field 1 did not animate"
xdotool key shift+F5
status_is "$stopped" || fail "Shift+F5 did not stop the animation"
back 9                                    # Stop back to Hexdump
xdotool key alt+g
status_is "$running" || fail "Alt+G on Hexdump did not run the machine"
xdotool key shift+F5
status_is "$stopped" || fail "Shift+F5 did not stop the machine after Alt+G"
back 7
xdotool key ctrl+a
xdotool type b1                           # the instruction after the main loop's HALT
xdotool key F5
status_other_than "$stopped" "$running" "$animating" >/dev/null ||
  fail "the breakpoint on the main loop did not stop the machine"
xdotool windowfocus --sync "$win" key Escape
ended "$pid" || fail "Escape did not end the program after the run keys"
[ "$ended_status" -eq 0 ] || fail "exit status $ended_status after the run keys"
[ "$(stat -c %s "$work/demo.sav" 2>/dev/null || echo 0)" -eq 2228224 ] || fail "no save file after the run keys"
echo "ok: F5, F9 and Alt+G ran the machine from breakpoint field 1 and Hexdump, Shift+F5 stopped it," \
     "a breakpoint typed on the main loop stopped it; Escape saved"
INSIDE
chmod +x "$work/inside.sh"
XVFB_STEPS="$(dirname "$0")/xvfb-steps.sh" "$(dirname "$0")/with-xvfb.sh" 1024x768 "$work/inside.sh" "$pdemu" "$work" "$demo"
