#!/usr/bin/env bash
# The Windows download: package_test.sh SOURCE_DIR WORK_DIR
# Three files, the programs exactly as built (the tool with the stub inside),
# a README with Windows line ends, and the same archive from the same sources.
set -uo pipefail
src="$1"; work="$2"
fail() { echo "FAIL (package): $*" >&2; exit 1; }
rm -rf "$work"; mkdir -p "$work"
bash "$src/scripts/package" "$work/a" >/dev/null || fail "scripts/package failed"
bash "$src/scripts/package" "$work/b" >/dev/null || fail "scripts/package failed the second time"
cmp -s "$work/a/lumisafe-windows.zip" "$work/b/lumisafe-windows.zip" || fail "two runs gave different archives"
python3 - "$work/a/lumisafe-windows.zip" "$src/build/win32" <<'PY' || exit 1
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1]); build = sys.argv[2]
names = sorted(z.namelist())
want = ["lumisafe-windows/README.txt", "lumisafe-windows/lumisafe-pack.exe", "lumisafe-windows/lumisafe.exe"]
if names != want: sys.exit("FAIL (package): the archive holds %s" % names)
tool = z.read("lumisafe-windows/lumisafe.exe")
if tool != open(build + "/tools/lumisafe.exe", "rb").read(): sys.exit("FAIL (package): lumisafe.exe is not the built one")
if z.read("lumisafe-windows/lumisafe-pack.exe") != open(build + "/packer/lumisafe-pack.exe", "rb").read():
    sys.exit("FAIL (package): lumisafe-pack.exe is not the built one")
if open(build + "/launcher/lumisafe-stub.exe", "rb").read() not in tool:
    sys.exit("FAIL (package): lumisafe.exe does not carry the built stub")
readme = z.read("lumisafe-windows/README.txt")
lines = readme.split(b"\n")[:-1]
if not lines or any(not l.endswith(b"\r") for l in lines): sys.exit("FAIL (package): README.txt lacks Windows line ends")
readme.decode("ascii")
print("ok: %d bytes" % sum(i.file_size for i in z.infolist()))
PY
