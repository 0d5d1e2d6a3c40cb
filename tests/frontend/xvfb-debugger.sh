#!/usr/bin/env bash
# The real build/pdemu in a real X server, on a ROM that prints and then
# executes the break trap (ED FF): the debugger window must come up by
# itself with the machine held; a screenshot of it is taken (PDEMU_SHOT=FILE
# keeps it), then Escape on the device window must end the program with the
# save file written although the debugger holds the machine.
# Usage: xvfb-debugger.sh PDEMU   (exit 77: no X tools on this machine)
set -uo pipefail
pdemu=$1
for tool in Xvfb xdotool /usr/bin/import /usr/bin/identify; do
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
pdemu=$1 work=$2
. "$XVFB_STEPS"
QT_QPA_PLATFORM=xcb "$pdemu" --rom "$work/trap.pgm" --save "$work/trap.sav" --zoom 1 2>"$work/stderr" &
pid=$!
fail() { echo "FAIL: $*"; cat "$work/stderr"; kill "$pid" 2>/dev/null; exit 1; }
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
INSIDE
chmod +x "$work/inside.sh"
XVFB_STEPS="$(dirname "$0")/xvfb-steps.sh" "$(dirname "$0")/with-xvfb.sh" 1024x768 "$work/inside.sh" "$pdemu" "$work"
