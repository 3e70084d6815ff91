#!/usr/bin/env bash
# Opens a demo recording in the viewer and plays it. On a desktop: an interactive window (Escape
# closes it).
# Without a display: a headless run on Xvfb that writes out/demo.png after 3 s of playing.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native --target iqgen
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target zembrola listerhost

mkdir -p out/demo
build/native/iqgen --out out/demo
recording=${1:-out/demo/demo_int16.cs16}

# The same kept Wine prefix as the tests (cmake/wine-run.sh): creating one takes minutes.
run_host() { cmake/wine-run.sh 64 build/win64/listerhost.exe "$@"; }

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  run_host --size 1000x700 --play "$recording"
else
  source scripts/xvfb.sh
  start_xvfb
  run_host --size 1000x700 --play "$recording" --screenshot out/demo.png --after-ms 3000
  # Let Wine's helper processes leave before the display goes away.
  cmake/wine-run.sh 64 --wait || true
  echo "demo: screenshot written to out/demo.png"
fi
