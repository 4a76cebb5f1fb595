#!/usr/bin/env bash
# End-to-end runs of the real decoder stub under Wine, with its own display
# and its own Wine prefix per language.
#   stub_e2e.sh WORKDIR LUMISAFE STUB WDRIVE CASE [en|ja]
set -uo pipefail
work="$1"; L="$2"; STUB="$3"; WDRIVE="$4"; case_name="$5"; lang="${6:-en}"

fail() { echo "FAIL ($case_name/$lang): $*" >&2; exit 1; }
for f in "$L" "$STUB" "$WDRIVE"; do
  [ -f "$f" ] || fail "missing $f: build the native and win32 presets (scripts/test does both)"
done
command -v wine >/dev/null && command -v Xvfb >/dev/null || fail "Wine or Xvfb missing: run scripts/setup"

mkdir -p "$work"
export WINEPREFIX="$work/prefix-$lang" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset LANG LANGUAGE
if [ "$lang" = ja ]; then export LC_ALL=ja_JP.UTF-8; else export LC_ALL=C.UTF-8; fi

# One display for this run; Xvfb picks a free number.
exec {dfd}<> <(:)
Xvfb -displayfd "$dfd" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
read -r -t 10 -u "$dfd" display || fail "Xvfb did not start"
export DISPLAY=":$display"
cleanup() { wineserver -k >/dev/null 2>&1; kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; }
trap cleanup EXIT

# The prefix, made once per language in that language.
( flock 9
  [ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
) 9>"$WINEPREFIX.lock"
wineserver -k >/dev/null 2>&1   # nothing left over from an earlier run
c="$WINEPREFIX/drive_c"
temp=$(echo "$c"/users/*/Temp)
[ -d "$temp" ] || fail "no temporary directory in the prefix"
rm -f "$temp"/DEC*.exe "$temp"/Del*.exe "$temp"/delus.bat "$c/delus.bat"
cd "$c"   # the current drive is C:

hexof() { printf '%s' "$1" | iconv -f UTF-8 -t CP932 | od -An -tx1 -v | tr -d ' \n' | tr a-f A-F; }
text_of() { # message id -> expected hex in this language
  local en ja
  case "$1" in
    takeout) en="Could not take out data"; ja="データ抽出に失敗しました" ;;
    tamper) en=$'Anyone cooked this file.\nCheck your naughty brother...\n         or virus.'
            ja=$'このファイルは改竄されています．\n\nウィルスに感染しているかもしれません．\n提供者とシステム管理者に相談することを勧めます．' ;;
    warning) en="Warning!"; ja="警告！" ;;
  esac
  if [ "$lang" = ja ]; then hexof "$ja"; else hexof "$en"; fi
}

# pack NAME DIR: a self-decoding file of a small text at C:\DIR\NAME
pack() {
  mkdir -p "$c/$2"
  seq 1 3000 > "$work/sample-$$.txt"
  printf 'pw' > "$work/pw-$$"
  "$L" pack "$work/sample-$$.txt" -o "$c/$2/$1" --stub "$STUB" --password-file "$work/pw-$$" --force >/dev/null 2>&1 \
    || fail "pack failed"
  rm -f "$work/sample-$$.txt" "$work/pw-$$"
}

# Waits for every process of the prefix, then checks that nothing of ours is left.
assert_clean() {
  timeout 60 wineserver -w || fail "processes still running after 60 s"
  local left
  left=$(ls "$temp"/DEC*.exe "$temp"/Del*.exe "$temp"/delus.bat "$c/delus.bat" 2>/dev/null)
  [ -z "$left" ] || fail "left behind: $left"
}

expect_box() { # expected-text-hex [expected-title-hex]
  local got
  got=$(wine "$WDRIVE" box 20000 | tr -d '\r')
  [ "$got" != timeout ] || fail "no message box appeared (wanted $1)"
  [ "${got#* }" = "$1" ] || fail "message box text ${got#* } (wanted $1)"
  [ -z "${2:-}" ] || [ "${got%% *}" = "$2" ] || fail "message box title ${got%% *} (wanted $2)"
}

expect_no_window() {
  local got
  got=$(wine "$WDRIVE" none "$1" | tr -d '\r')
  [ "$got" = none ] || fail "unexpected window: $got"
}

run_exit() { # runs a Windows command line in the foreground, checks exit code 0
  wine "$@"; local rc=$?
  [ "$rc" = 0 ] || fail "exit code $rc from $*"
}

case "$case_name" in
chain)   # launch, decode (no dialog yet) and cleanup stages leave nothing behind
  pack sample.exe work
  run_exit 'C:\work\sample.exe'
  expect_no_window 3000
  assert_clean
  [ -f "$c/work/sample.exe" ] || fail "the self-decoding file is gone"
  ;;
blanks)
  pack 'my sample.exe' 'my files'
  run_exit 'C:\my files\my sample.exe'
  expect_no_window 3000
  assert_clean
  ;;
tamper)
  pack sample.exe work
  size=$(stat -c %s "$c/work/sample.exe")
  printf '\x42' | dd of="$c/work/sample.exe" bs=1 seek=$((size - 100)) conv=notrunc 2>/dev/null
  wine 'C:\work\sample.exe' &
  pid=$!
  expect_box "$(text_of tamper)" "$(text_of warning)"
  expect_box "$(text_of takeout)"
  wait "$pid"; rc=$?
  [ "$rc" = 0 ] || fail "exit code $rc"
  assert_clean
  ;;
bare_stub)
  mkdir -p "$c/work"; cp "$STUB" "$c/work/stub.exe"
  wine 'C:\work\stub.exe' &
  pid=$!
  expect_box "$(text_of takeout)"
  wait "$pid" || fail "exit code $?"
  assert_clean
  ;;
arguments)   # forms that match no stage: nothing runs, nothing shows
  pack sample.exe work
  run_exit 'C:\work\sample.exe' myfile.txt
  run_exit 'C:\work\sample.exe' '::'
  run_exit 'C:\work\sample.exe' '::x'
  run_exit 'C:\work\sample.exe' a b ':::c' d
  run_exit 'C:\work\sample.exe' 12 ':::C:\work\sample.exe'
  expect_no_window 2000
  assert_clean
  [ -f "$c/work/sample.exe" ] || fail "a hand-made cleanup command line deleted the file"
  ;;
*) fail "unknown case" ;;
esac
echo "ok: $case_name/$lang"
