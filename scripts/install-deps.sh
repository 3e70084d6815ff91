#!/usr/bin/env bash
# Installs what building and testing need on a Debian 12 machine (run as root or with sudo).
set -euo pipefail

SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo

PACKAGES=(
  cmake ninja-build g++ pkg-config git
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  wine wine64 wine32:i386
  xvfb xauth
  libgl1-mesa-dri libgl1-mesa-dri:i386 libgl1:i386 libglx0:i386 libglx-mesa0:i386
  googletest libgtest-dev libbenchmark-dev
  libcli11-dev nlohmann-json3-dev libfftw3-dev libosmesa6-dev libpng-dev
  python3-numpy
  libgtk2.0-dev doublecmd-gtk xdotool x11-apps python3-pil
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Some virtual machines' kernels cannot run i386 code, which 32-bit Wine needs. Run it
# under qemu's user-mode emulation there (slow, but the same binaries are tested).
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "install-deps: this kernel does not run i386 code; using qemu user emulation for 32-bit Wine"
  dpkg -s qemu-user-static >/dev/null 2>&1 ||
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends qemu-user-static
  [ -e /proc/sys/fs/binfmt_misc/register ] || $SUDO mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
      $SUDO tee /proc/sys/fs/binfmt_misc/register >/dev/null
  fi
  /usr/lib/wine/wine --version >/dev/null
fi
echo "install-deps: ready"
