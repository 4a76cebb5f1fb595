#!/usr/bin/env bash
# Checks a built decoder stub: stub_checks.sh STUB.exe
set -uo pipefail
stub="$1"
fail() { echo "FAIL: $*" >&2; exit 1; }
size=$(stat -c %s "$stub")
[ $((size % 512)) = 0 ] || fail "length $size is not a multiple of 512"

# No 256-byte piece may start with the marker text and a zero byte.
marker=$(printf '\\decode\\self\\\0' | od -An -tx1 -v | tr -d ' \n')
for ((off = 0; off < size; off += 256)); do
  piece=$(od -An -tx1 -v -j "$off" -N 14 "$stub" | tr -d ' \n')
  [ "$piece" != "$marker" ] || fail "marker block at offset $off"
done

dump=$(i686-w64-mingw32-objdump -p "$stub") || fail "objdump failed"
allowed='^(kernel32|user32|gdi32|comdlg32|shell32|advapi32|msvcrt)\.dll$'
while read -r dll; do
  echo "$dll" | tr A-Z a-z | grep -Eq "$allowed" || fail "imports from $dll"
done < <(echo "$dump" | sed -n 's/.*DLL Name: //p')
grep -q 'requestedExecutionLevel level="asInvoker"' "$stub" || fail "no asInvoker manifest"
chars=$(echo "$dump" | sed -n 's/^DllCharacteristics[[:space:]]*//p')
(( (0x$chars & 0x40) && (0x$chars & 0x100) )) || fail "DllCharacteristics $chars lacks DYNAMIC_BASE or NX_COMPAT"
echo "stub ok: $size bytes, imports: $(echo "$dump" | sed -n 's/.*DLL Name: //p' | tr '\n' ' ')"
