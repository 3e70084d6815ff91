#!/bin/sh
# check_dll.sh OBJDUMP DLL: the plug-in exports exactly its ten lister functions, by plain
# name with ordinals 1-10, and imports nothing but Windows system libraries.
set -eu
objdump=$1; dll=$2
dump=$("$objdump" -p "$dll")
fail=0

# Everything the host's Windows is sure to have; a MinGW runtime DLL here would not load.
allowed='^(kernel32|user32|gdi32|comctl32|msvcrt|advapi32|shell32|ole32|opengl32)\.dll$'
for name in $(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
  lower=$(printf '%s' "$name" | tr 'A-Z' 'a-z')
  if ! printf '%s' "$lower" | grep -Eq "$allowed"; then
    echo "unexpected import: $name"; fail=1
  fi
done

base=$(printf '%s\n' "$dump" | sed -n 's/^Ordinal Base[[:space:]]*//p' | head -n 1)
[ "$base" = 1 ] || { echo "ordinal base is '$base', not 1"; fail=1; }
table=$(printf '%s\n' "$dump" | sed -n '/Ordinal\/Name Pointer/,/^$/p' | grep -E '^[[:space:]]+\[')
count=$(printf '%s\n' "$table" | wc -l)
[ "$count" = 10 ] || { echo "expected 10 exports, found $count"; fail=1; }
i=0
for fn in ListSetDefaultParams ListGetPreviewBitmap ListGetPreviewBitmapW ListCloseWindow ListLoad ListLoadW \
          ListGetDetectString ListLoadNext ListLoadNextW ListSendCommand; do
  # objdump prints the ordinal minus the base in brackets.
  printf '%s\n' "$table" | grep -Eq "\[ *$i\] $fn\$" || { echo "missing $fn at ordinal $((i + 1))"; fail=1; }
  i=$((i + 1))
done
[ $fail = 0 ] && echo "exports and imports OK:" $(printf '%s\n' "$table" | sed 's/.*\] //')
exit $fail
