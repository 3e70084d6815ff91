#!/bin/sh
# Runs a cross-built test executable under Wine: wine-run.sh ARCH(32|64) PREFIX EXE [ARGS...]
# Creates the Wine prefix on first use (serialised, ctest may run tests in parallel).
set -e
arch=$1; prefix=$2; shift 2
# A prefix takes minutes to create (more under emulation): scripts may point every build at
# one kept per architecture.
[ -z "$ZB_WINEPREFIX_ROOT" ] || prefix="$ZB_WINEPREFIX_ROOT/wine$arch"
[ -z "$ZB_WINEPREFIX" ] || prefix="$ZB_WINEPREFIX"
export WINEPREFIX="$prefix" WINEDEBUG=-all
[ -n "$DISPLAY" ] || export DISPLAY=:99
if [ "$arch" = 64 ]; then loader=/usr/lib/wine/wine64; else loader=/usr/lib/wine/wine; fi
# Under qemu's user-mode emulation (kernels without i386 support) Mesa's JIT rasteriser
# crashes; its plain rasteriser draws the same frames, only slower.
if [ "$arch" = 32 ] && [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
  export GALLIUM_DRIVER="${GALLIUM_DRIVER:-softpipe}"
fi
mkdir -p "$prefix"
(
  flock 9
  if [ ! -f "$prefix/.zb-ready" ]; then
    # Headless and without Mono or Gecko: on a display, their install prompts wait for a click.
    DISPLAY= WINEDLLOVERRIDES="mscoree=;mshtml=" "$loader" wineboot -i >/dev/null 2>&1 || true
    /usr/lib/wine/wineserver -w 2>/dev/null || wineserver -w 2>/dev/null || true
    touch "$prefix/.zb-ready"
  fi
) 9>"$prefix.lock"
exec "$loader" "$@"
