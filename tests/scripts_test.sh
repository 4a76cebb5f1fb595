#!/usr/bin/env bash
# The scripts on a machine that cannot run 32-bit programs, simulated with
# LUMISAFE_ASSUME_NO_WIN32=1: the demo explains and exits 0, and every test
# that needs Wine comes out skipped, never passed or failed.
#   scripts_test.sh SOURCE_DIR
set -uo pipefail
root="$1"
fail() { echo "FAIL: $*" >&2; exit 1; }
export LUMISAFE_ASSUME_NO_WIN32=1
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT

# The probe itself: one line with the reason, exit 1.
why=$(bash "$root/scripts/win32-probe"); rc=$?
[ "$rc" = 1 ] || fail "probe exit $rc"
[ "$(wc -l <<<"$why")" = 1 ] && grep -q 'cannot run 32-bit programs' <<<"$why" || fail "probe said: $why"

# A test program under Wine: skipped (77), with the reason.
out=$(bash "$root/scripts/wine-run" "$work/none.exe" 2>&1); rc=$?
[ "$rc" = 77 ] || fail "wine-run exit $rc: $out"
grep -q '^skipped: .*cannot run 32-bit programs' <<<"$out" || fail "wine-run said: $out"

# An end-to-end case: skipped before it touches Wine or Xvfb.
out=$(bash "$root/tests/win32/stub_e2e.sh" "$work/e2e" /bin/true /bin/true /bin/true chain en 2>&1); rc=$?
[ "$rc" = 77 ] || fail "stub_e2e exit $rc: $out"
grep -q '^skipped: ' <<<"$out" || fail "stub_e2e said: $out"
[ ! -e "$work/e2e" ] || fail "stub_e2e made its work folder although it was skipped"

# CTest counts a Wine test as skipped, not passed.
if [ -f "$root/build/win32/CTestTestfile.cmake" ]; then
  out=$(ctest --test-dir "$root/build/win32" -R '^stub_unit_tests$' 2>&1); rc=$?
  [ "$rc" = 0 ] || fail "ctest exit $rc: $out"
  grep -q '\*\*\*Skipped' <<<"$out" || fail "ctest did not report the test as skipped: $out"
  grep -q 'Passed' <<<"$out" && fail "ctest reported a Wine test as passed: $out"
fi

# The demo: the tool part works, then a plain word on the Windows part, exit 0.
out=$(bash "$root/scripts/demo" 2>&1); rc=$?
[ "$rc" = 0 ] || fail "demo exit $rc: $out"
for want in 'identical: ' 'The Windows program cannot run on this machine: ' \
            "The self-decoding file is $root/build/demo/sample.exe" 'copy it to a Windows computer'; do
  grep -qF "$want" <<<"$out" || fail "demo did not say '$want': $out"
done
grep -qi 'wineboot\|Exec format' <<<"$out" && ! grep -q 'Exec format error"' <<<"$out" && fail "demo leaked Wine's own errors: $out"
[ -f "$root/build/demo/sample.exe" ] || fail "no self-decoding file after the demo"
echo "scripts ok"
