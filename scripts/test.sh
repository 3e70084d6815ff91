#!/usr/bin/env bash
# Builds all three presets (native, win64, win32) and runs every test; the Windows tests run
# under Wine on a private Xvfb display.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
source scripts/xvfb.sh
start_xvfb

start=$(date +%s)
for preset in native win64 win32; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
# The native build also checks that the benchmarks compile.
cmake --build --preset native --target zb_bench
for preset in native win64 win32; do
  echo "=== $preset: test"
  ctest --preset "$preset"
done
echo "=== all tests passed in $(( $(date +%s) - start )) s"
