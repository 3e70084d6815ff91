#!/usr/bin/env bash
# Opens a demo recording in the viewer and plays it. On a desktop: an interactive window (Escape
# closes it).
# Without a display: a headless run on Xvfb that writes out/demo.png after 3 s of playing.
#
#   bash scripts/demo.sh --doublecmd [RECORDING]
# opens the recording in the real Double Commander (GTK2) with the native Linux plug-in: on a
# desktop its window with the cursor on the recording (F3 shows it); headless a run on a private
# Xvfb display that plays it and after 1.5 s writes out/demo-doublecmd.png.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = --doublecmd ]; then
  bash scripts/install-deps.sh
  cmake --preset linux >/dev/null
  cmake --build --preset linux --target zembrola_gtk2 iqgen zembrola_cli
  mkdir -p out/demo
  build/linux/iqgen --out out/demo >/dev/null
  recording=$(realpath "${2:-out/demo/demo_int16.cs16}")
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    # A configuration of its own, so that the user's is left as it is.
    config=out/doublecmd-config
    mkdir -p "$config"
    detect=$(sed -n 's/^ *"\(EXT=.*\)";$/\1/p' src/plugin/gtk2_zembrola.cpp | sed 's/\\"/\&quot;/g')
    cat >"$config/doublecmd.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<doublecmd DCVersion="1.0.10" ConfigVersion="13">
  <Plugins><WlxPlugins><WlxPlugin Enabled="True">
    <Name>zembrola_gtk2</Name><DetectString>$detect</DetectString>
    <Path>$(realpath build/linux/zembrola_gtk2.wlx)</Path>
  </WlxPlugin></WlxPlugins></Plugins>
</doublecmd>
XML
    echo "demo: press F3 (viewer) or Ctrl+Q (Quick View) on $(basename "$recording")"
    exec doublecmd --no-splash --config-dir="$config" -L "$recording"
  fi
  /usr/bin/python3 tests/linux/doublecmd_host_test.py --build build/linux --demo out/demo-doublecmd.png \
    --file "$recording"
  exit 0
fi

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
