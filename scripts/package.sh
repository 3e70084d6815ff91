#!/usr/bin/env bash
# Writes the release: dist/zembrola-VERSION.zip (what a user installs: both stripped DLLs, the
# install manifest, the user guide as readme.txt and the change log),
# dist/zembrola-VERSION-symbols.zip (the DLLs' debug information, found again through each
# DLL's .gnu_debuglink) and dist/zembrola-VERSION-linux-x86_64.tar.gz (the Linux plug-in for
# GTK2 hosts, the guide and the detect string to enter). Run after the README's test command;
# missing builds are made here. Two runs on the same commit write byte-identical archives.
set -euo pipefail
cd "$(dirname "$0")/.."

dist=dist
stage=build/package

for preset in win32 win64 linux; do
  [ -f "build/$preset/build.ninja" ] || cmake --preset "$preset" >/dev/null
  # A no-op when the test command has already built it.
  target=zembrola
  [ "$preset" = linux ] && target=zembrola_gtk2
  cmake --build --preset "$preset" --target "$target"
done

cache_value() { sed -n "s/^$2:[A-Z]*=//p" "build/$1/CMakeCache.txt"; }
# The version every build was configured with; the two must agree.
version=$(cache_value win64 CMAKE_PROJECT_VERSION)
if [ -z "$version" ] || [ "$version" != "$(cache_value win32 CMAKE_PROJECT_VERSION)" ]; then
  echo "package: win32 and win64 builds disagree on the version" \
    "('$(cache_value win32 CMAKE_PROJECT_VERSION)' vs '$version')" >&2
  exit 1
fi

# Zip entries carry the commit's time, so the archive depends on nothing but the commit.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || echo 315532800)
fi

root=$(pwd)
rm -rf "$stage"
mkdir -p "$stage/plugin" "$stage/symbols" "$dist"

# Debug information apart, linked by name and checksum. objcopy stamps PE files with the
# current time unless SOURCE_DATE_EPOCH says otherwise; the linker wrote 0, and so do we.
strip_dll() {
  local preset=$1 name=$2 objcopy
  objcopy=$(cache_value "$preset" CMAKE_OBJCOPY)
  SOURCE_DATE_EPOCH=0 "$objcopy" --only-keep-debug "build/$preset/$name" "$stage/symbols/$name.debug"
  # --strip-all also drops the symbol table, which the debug file keeps: 0.5 MB instead of 0.8.
  # --add-gnu-debuglink reads the debug file to checksum it and records only its base name.
  (cd "$stage/symbols" &&
    SOURCE_DATE_EPOCH=0 "$objcopy" --strip-all --add-gnu-debuglink="$name.debug" \
      "$root/build/$preset/$name" "$root/$stage/plugin/$name")
}
strip_dll win32 zembrola.wlx
strip_dll win64 zembrola.wlx64

# The host reads this when a user opens the zip; Windows line ends for a Windows ini file.
printf '%s\r\n' \
  '[plugininstall]' \
  "description=Zembrola $version: spectrum, waterfall and playback of I/Q radio recordings" \
  'type=wlx' \
  'file=zembrola.wlx' \
  'file64=zembrola.wlx64' \
  'defaultdir=zembrola' >"$stage/plugin/pluginst.inf"

python3 scripts/package_files.py readme docs/user-guide.md "$stage/plugin/readme.txt"
cp CHANGELOG.md "$stage/plugin/CHANGELOG.md"

zip_out="$dist/zembrola-$version.zip"
symbols_out="$dist/zembrola-$version-symbols.zip"
python3 scripts/package_files.py zip "$zip_out" "$SOURCE_DATE_EPOCH" \
  "$stage/plugin"/{pluginst.inf,zembrola.wlx,zembrola.wlx64,readme.txt,CHANGELOG.md}
python3 scripts/package_files.py zip "$symbols_out" "$SOURCE_DATE_EPOCH" \
  "$stage/symbols"/{zembrola.wlx.debug,zembrola.wlx64.debug}

# The Linux plug-in: one folder to unpack anywhere; the host's configuration names its path.
linux="$stage/linux/zembrola"
mkdir -p "$linux"
strip --strip-all -o "$linux/zembrola_gtk2.wlx" build/linux/zembrola_gtk2.wlx
cp "$stage/plugin/readme.txt" CHANGELOG.md "$linux/"
sed -n 's/^ *"\(EXT=.*\)";$/\1/p' src/plugin/gtk2_zembrola.cpp | sed 's/\\"/"/g' >"$linux/detect-string.txt"
[ -s "$linux/detect-string.txt" ] || { echo "package: no detect string found" >&2; exit 1; }
tar_out="$dist/zembrola-$version-linux-x86_64.tar.gz"
tar --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner --mode=go-w \
  -C "$stage/linux" -cf - zembrola | gzip -9n >"$tar_out"

for z in "$zip_out" "$symbols_out" "$tar_out"; do
  echo "package: $z ($(stat -c %s "$z") bytes)"
done
