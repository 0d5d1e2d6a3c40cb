#!/usr/bin/env bash
# Sets up, builds and starts pdemu on the demo firmware (README command 1).
#
# Once the window front end is built (build/pdemu) this starts it; its
# first-run dialogue asks for a ROM image: choose the demo firmware printed
# below. Until then it runs the demo firmware headless with build/pdemu-run,
# with both demo applications installed and a short pen stroke, and writes
# the final screen to a PNG file. Extra arguments go to the program started.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh

rom=build/firmware/pdemu-demo.pgm
if [ -x build/pdemu ]; then
  echo "run.sh: starting build/pdemu (demo firmware: $PWD/$rom)"
  exec build/pdemu "$@"
fi

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
echo "run.sh: no window front end is built yet (build/pdemu is missing)."
echo "run.sh: running the demo firmware headless for 20,000,000 T-states instead; its debug output follows."
build/pdemu-run --rom "$rom" --install build/firmware/painter.app --install build/firmware/breaker.app \
  --input "$input" --tstates 20000000 --timeout 60 --screen "$screen" "$@"
echo "run.sh: the organiser's screen at the end of the run is in $PWD/$screen"
