#!/usr/bin/env bash
# Sets up, builds and starts pdemu on the demo firmware (README command 1).
#
# Opens the pdemu window on the demo firmware; the organiser's state is kept
# in pdemu-demo.sav in the user's data folder (~/.local/share/Morvek/pdemu).
# Without a display (no DISPLAY or WAYLAND_DISPLAY) it says so and runs the
# demo firmware headless with build/pdemu-run instead: both demo applications
# installed, a short pen stroke, the final screen written to a PNG file.
# Extra arguments go to the program started.
set -euo pipefail
cd "$(dirname "$0")/.."
rom=build/firmware/pdemu-demo.pgm

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  scripts/build.sh pdemu pdemu_demo_images
  echo "run.sh: starting build/pdemu on the demo firmware ($PWD/$rom)"
  exec build/pdemu --rom "$PWD/$rom" "$@"
fi

scripts/build.sh pdemu-run pdemu_demo_images
screen=build/pdemu-screen.png
input=build/run-input.txt
cat > "$input" <<'SCRIPT'
# A short stroke in the drawing pad, then MEMO held to the end.
4000000 pen 40 200 down
6000000 pen 60 205 move
8000000 pen 80 210 move
10000000 pen 100 205 move
12000000 pen 120 200 move
14000000 pen 120 200 up
14000000 key MEMO down
SCRIPT
echo "run.sh: no display to open the pdemu window on (DISPLAY and WAYLAND_DISPLAY are not set)."
echo "run.sh: running the demo firmware headless for 20,000,000 T-states instead; its debug output follows."
build/pdemu-run --rom "$rom" --install build/firmware/painter.app --install build/firmware/breaker.app \
  --input "$input" --tstates 20000000 --timeout 60 --screen "$screen" "$@"
echo "run.sh: the organiser's screen at the end of the run is in $PWD/$screen"
