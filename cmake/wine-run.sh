#!/bin/sh
# Runs a Windows executable under Wine: wine-run.sh ARCH(32|64) EXE [ARGS...]
#                 or waits for that prefix's Wine processes to end: wine-run.sh ARCH --wait
# Creates the Wine prefix on first use (serialised, ctest may run tests in parallel). Creating
# one takes minutes (more under emulation), so one is kept per architecture for every build
# and script: $ZB_WINEPREFIX_ROOT/wine<ARCH>, by default in the user's cache folder.
set -e
arch=$1; shift
root="${ZB_WINEPREFIX_ROOT:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/zembrola-wine}"
prefix="${ZB_WINEPREFIX:-$root/wine$arch}"
export WINEPREFIX="$prefix" WINEDEBUG=-all
if [ "${1:-}" = --wait ]; then
  exec /usr/lib/wine/wineserver -w
fi
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
