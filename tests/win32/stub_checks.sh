#!/usr/bin/env bash
# Checks a built Windows program of ours: stub_checks.sh EXE [EXTRA_DLL...]
# Whole 512-byte file alignment, no marker block, imports from system DLLs
# only (kernel32, user32, gdi32, comdlg32, shell32, advapi32, msvcrt and any
# named), an asInvoker manifest of its own, the hardening flags, and no
# section that is both code and writable.
set -uo pipefail
exe="$1"; shift
fail() { echo "FAIL: $exe: $*" >&2; exit 1; }
size=$(stat -c %s "$exe")
[ $((size % 512)) = 0 ] || fail "length $size is not a multiple of 512"

# No 256-byte piece may start with the marker text and a zero byte.
marker=$(printf '\\decode\\self\\\0' | od -An -tx1 -v | tr -d ' \n')
offsets=$(od -An -tx1 -v -w256 "$exe" | cut -c1-42 | tr -d ' ' | grep -n "^$marker" | cut -d: -f1)
[ -z "$offsets" ] || fail "marker block in 256-byte piece(s) $offsets"

dump=$(i686-w64-mingw32-objdump -p "$exe") || fail "objdump failed"
extra=$(printf '|%s' "$@")
allowed="^(kernel32|user32|gdi32|comdlg32|shell32|advapi32|msvcrt${extra})\.dll$"
while read -r dll; do
  echo "$dll" | tr A-Z a-z | grep -Eq "$allowed" || fail "imports from $dll"
done < <(echo "$dump" | sed -n 's/.*DLL Name: //p')

# The manifest in the program's own resources (a program that carries the
# stub also carries the stub's manifest, so the resource is read, not grepped).
manifest=$(python3 - "$exe" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", data, 0x3C)[0]
nsec = struct.unpack_from("<H", data, pe + 6)[0]
opt = struct.unpack_from("<H", data, pe + 20)[0]
rva = struct.unpack_from("<I", data, pe + 24 + 96 + 2 * 8)[0]  # resource directory
secs = [struct.unpack_from("<8sIIII", data, pe + 24 + opt + 40 * i) for i in range(nsec)]
def off(r):
    for _, vsize, va, rsize, raw in secs:
        if va <= r < va + max(vsize, rsize): return raw + r - va
base = off(rva)
def entries(d):
    n = sum(struct.unpack_from("<HH", data, base + d + 12))
    return [struct.unpack_from("<II", data, base + d + 16 + 8 * i) for i in range(n)]
for name, sub in entries(0):
    if name != 24: continue  # RT_MANIFEST
    for _, sub2 in entries(sub & 0x7FFFFFFF):
        for _, leaf in entries(sub2 & 0x7FFFFFFF):
            drva, dsize = struct.unpack_from("<II", data, base + leaf)
            sys.stdout.write(data[off(drva):off(drva) + dsize].decode("utf-8", "replace"))
PY
)
echo "$manifest" | grep -q 'requestedExecutionLevel level="asInvoker"' || fail "no asInvoker manifest of its own"
chars=$(echo "$dump" | sed -n 's/^DllCharacteristics[[:space:]]*//p')
(( (0x$chars & 0x40) && (0x$chars & 0x100) )) || fail "DllCharacteristics $chars lacks DYNAMIC_BASE or NX_COMPAT"
writable_code=$(i686-w64-mingw32-objdump -h "$exe" | awk '/^ *[0-9]+ /{name=$2; next} /CODE/ && !/READONLY/{print name}')
[ -z "$writable_code" ] || fail "writable code section(s): $writable_code"
echo "ok: $size bytes, imports: $(echo "$dump" | sed -n 's/.*DLL Name: //p' | tr '\n' ' ')"
