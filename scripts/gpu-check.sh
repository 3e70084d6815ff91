#!/bin/sh
# Checks the GPU PSD on a Linux machine with an NVIDIA GPU, the CUDA runtime and cuFFT installed:
# builds the core library and zb_gpu_check only (CMake and a C++ compiler; no network, no test
# or GL libraries), then prints which libraries loaded, the largest dB difference between the
# GPU and the CPU PSD over generated recordings (NFFT 256 to 65536, averaging 1 to 64), the time
# of one PSD on the CPU, on the GPU and by the automatic choice for NFFT 1024 to 65536 and
# averaging 1 to 64 (median of 5 runs each), and the viewer's title and status line on a
# generated recording.
#
#   scripts/gpu-check.sh [BUILD_DIR [--runs N]]   (default: build/gpu-check, 5 runs per cell)
#
# ZB_CUDA_LIB_DIR, when set, is searched first for the libraries (for example a folder of the
# test fakes, to try the script on a machine without a GPU).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/gpu-check}
[ $# -gt 0 ] && shift
jobs=$(nproc 2>/dev/null || echo 2)
gen=
if command -v ninja >/dev/null 2>&1; then gen="-G Ninja"; fi
# shellcheck disable=SC2086
cmake -S "$root" -B "$build" $gen -DCMAKE_BUILD_TYPE=Release -DZB_GPU_CHECK_ONLY=ON >"$build.configure.log" 2>&1 ||
  { cat "$build.configure.log"; exit 1; }
cmake --build "$build" --target zb_gpu_check -j "$jobs" >"$build.build.log" 2>&1 ||
  { cat "$build.build.log"; exit 1; }
if [ -n "${ZB_CUDA_LIB_DIR:-}" ]; then
  LD_LIBRARY_PATH="$ZB_CUDA_LIB_DIR${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
  export LD_LIBRARY_PATH
fi
command -v nvidia-smi >/dev/null 2>&1 &&
  nvidia-smi --query-gpu=name,driver_version --format=csv,noheader 2>/dev/null | sed 's/^/gpu: /' || true
exec timeout 400 "$build/zb_gpu_check" "$@"
