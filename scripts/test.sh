#!/usr/bin/env bash
# Builds all three presets (native, win64, win32) and runs every test; the Windows tests run
# under Wine on a private Xvfb display.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
source scripts/xvfb.sh
start_xvfb

start=$(date +%s)
# Wine prefixes are kept between runs (cmake/wine-run.sh); creating them overlaps with the build.
for arch in 64 32; do
  (cmake/wine-run.sh "$arch" cmd /c exit 0 >/dev/null 2>&1 || true) &
done
for preset in native win64 win32; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
# The native build also checks that the benchmarks compile.
cmake --build --preset native --target zb_bench
for preset in native win64 win32; do
  echo "=== $preset: test"
  repeat=()
  # 32-bit Wine under qemu's user-mode emulation now and then dies on its own; one retry.
  if [ "$preset" = win32 ] && [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    repeat=(--repeat until-pass:2)
  fi
  ctest --preset "$preset" "${repeat[@]}"
  if [ "$preset" = native ]; then
    echo "=== fuzz targets, 20 s each"
    bash scripts/fuzz.sh 20
  fi
done
echo "=== package: built twice, the zips compared and checked"
python3 tests/plugin/check_package.py
echo "=== all tests passed in $(( $(date +%s) - start )) s"
