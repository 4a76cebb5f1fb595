#!/usr/bin/env bash
# The emulated guest's runner (scripts/win32-vm): a command's exit code and
# output come back, it runs in this directory with this environment, what it
# writes is here at once, a 32-bit program runs there, and a guest that cannot
# boot fails with its console log instead of passing or hanging.
#   win32_vm_test.sh SOURCE_DIR WORKDIR
set -uo pipefail
root="$1"; work="$2"
vm="$root/scripts/win32-vm"
fail() { echo "FAIL: $*" >&2; exit 1; }
bash "$vm" --check || { echo "skipped: the guest is not prepared on this machine (scripts/setup prepares it where the kernel runs no 32-bit programs)"; exit 77; }
rm -rf "$work"; mkdir -p "$work/a dir"; cd "$work/a dir" || fail "no work folder"

# One boot: exit code, output, directory, environment, a file written there,
# and Wine's 32-bit loader, which fails on this machine.
export LUMISAFE_VM_TEST_VALUE='two words & a "quote"'
out=$(bash "$vm" --timeout 300 bash -c '
  echo "pwd=$PWD"; echo "value=$LUMISAFE_VM_TEST_VALUE"
  printf written > "from guest.txt"
  timeout 120 /usr/lib/wine/wine --version >/dev/null 2>&1 && echo "32-bit ok"
  exit 42' 2>&1); rc=$?
[ "$rc" = 42 ] || fail "exit code $rc, not 42: $out"
grep -qxF "pwd=$work/a dir" <<<"$out" || fail "not run in the current directory: $out"
grep -qxF "value=$LUMISAFE_VM_TEST_VALUE" <<<"$out" || fail "the environment did not arrive: $out"
grep -qx '32-bit ok' <<<"$out" || fail "Wine's 32-bit loader does not run in the guest: $out"
[ "$(cat "$work/a dir/from guest.txt" 2>/dev/null)" = written ] || fail "the file written in the guest is not here"

# A success is a success.
bash "$vm" true || fail "true exits $? in the guest"

# A guest that cannot boot (an initramfs of nothing but noise): exit 125, the
# reason, and the kernel's last words; well before the time limit.
mkdir -p "$work/broken"
vmdir="${LUMISAFE_VM_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/lumisafe/vm}"
ln -sf "$(readlink -f "$vmdir/vmlinuz")" "$work/broken/vmlinuz"
head -c 4096 /dev/urandom > "$work/broken/initrd.cpio.gz"
out=$(LUMISAFE_VM_DIR="$work/broken" bash "$vm" --timeout 300 true 2>&1); rc=$?
[ "$rc" = 125 ] || fail "a broken guest exits $rc, not 125: $out"
grep -q 'win32-vm: the guest did not start' <<<"$out" || fail "no reason given: $out"
grep -qi 'panic' <<<"$out" || fail "the guest's console log is not shown: $out"

# A command that outlives its limit is stopped: exit 124.
out=$(bash "$vm" --timeout 20 sleep 600 2>&1); rc=$?
[ "$rc" = 124 ] || fail "a command past its limit exits $rc, not 124: $out"
echo "win32-vm ok"
