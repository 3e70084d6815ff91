#!/usr/bin/env bash
# Soak under Wine, both architectures, at full length: 1,000 viewer open/close cycles and 500
# thumbnails each (CI runs the same test with smaller counts). Needs the win64 and win32 builds.
#   scripts/soak.sh [VIEWERS] [THUMBNAILS]
set -euo pipefail
cd "$(dirname "$0")/.."
export ZB_SOAK_VIEWERS="${1:-1000}" ZB_SOAK_THUMBS="${2:-500}"
source scripts/xvfb.sh
start_xvfb
rc=0
for arch in 64 32; do
  exe="build/win$arch/win32_tests.exe"
  [ -f "$exe" ] || { echo "soak: $exe missing; build the win$arch preset first" >&2; exit 1; }
  echo "=== win$arch"
  # Both architectures run even when the first fails: its figures are wanted as well.
  cmake/wine-run.sh "$arch" "$exe" --gtest_brief=1 --gtest_filter='SoakGL.*' || rc=1
done
exit $rc
