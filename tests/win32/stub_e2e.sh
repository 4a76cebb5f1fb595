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

# 77 tells CTest that the test was skipped: nothing Windows runs on this machine.
probe=0; why=$(bash "$(dirname "$0")/../../scripts/win32-probe") || probe=$?
if [ "$probe" = 1 ]; then echo "skipped: $why"; exit 77; fi

source "$(dirname "$0")/wine-env.sh"
# Cases that change the prefix's registry get a prefix of their own.
variant=""
case "$case_name" in temp_*) variant="$case_name" ;; esac
wine_env_start "$work" "$lang" "$variant"
rm -f "$temp"/DEC*.exe "$temp"/Del*.exe "$temp"/Del*.bat "$temp"/delus.bat "$c/delus.bat"

hexof_msg() { text_of "$1"; }
text_of() { # message id -> expected hex in this language
  local en ja
  case "$1" in
    takeout) en="Could not take out data"; ja="データ抽出に失敗しました" ;;
    tamper) en=$'Anyone cooked this file.\nCheck your naughty brother...\n         or virus.'
            ja=$'このファイルは改竄されています．\n\nウィルスに感染しているかもしれません．\n提供者とシステム管理者に相談することを勧めます．' ;;
    warning) en="Warning!"; ja="警告！" ;;
    wrong) en="Wrong password"; ja="パスワードが誤っています" ;;
    create) en="Could not open for write"; ja="書込み準備ができません" ;;
    size) en="Could not know file size"; ja="ファイルサイズがわかりません" ;;
    read) en="Could not read file"; ja="ファイルを読めません" ;;
    write) en="Could not write"; ja="ファイルに書けません" ;;
    damaged) en="The file is damaged"; ja="ファイルが壊れています" ;;
    newer) en="This file was made by a newer version"; ja="このファイルは新しいバージョンで作成されています" ;;
    nocrypto) en="Windows 7 or later is needed for this file"; ja="このファイルには Windows 7 以降が必要です" ;;
  esac
  if [ "$lang" = ja ]; then hexof "$ja"; else hexof "$en"; fi
}

# Sealed files take the fewest key derivation rounds the tool allows: the
# cases are about the dialogs, the stages and the files, and a million rounds
# cost seconds each time under emulation. The decode case keeps the default.
kdf=(--iterations 1000)
# The dialogs are found by their caption: each file names its input there, as
# a classic file does by default (a sealed one names nothing unless asked).

# pack NAME DIR: a self-decoding file of a small text at C:\DIR\NAME
pack() {
  mkdir -p "$c/$2"
  mkdir -p "$work/sample-$$"
  seq 1 3000 > "$work/sample-$$/sample.txt"
  printf 'pw' > "$work/pw-$$"
  "$L" pack "$work/sample-$$/sample.txt" -o "$c/$2/$1" --stub "$STUB" --password-file "$work/pw-$$" --force "${kdf[@]}" \
    --caption '"sample.txt" Decode' >/dev/null 2>&1 \
    || fail "pack failed"
  rm -rf "$work/sample-$$" "$work/pw-$$"
}

# Waits for every process of the prefix, then checks that nothing of ours is left.
assert_clean() {
  wine_wait 60 || fail "processes still running after $((60 * time_scale)) s"
  local left
  left=$(ls "$temp"/DEC*.exe "$temp"/Del*.exe "$temp"/Del*.bat "$temp"/delus.bat "$c"/*.bat 2>/dev/null)
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



# packf NAME DIR [tool options...]: packs $work/in/NAME (made by the caller)
# decode_with_temp DIR: packs a small file, decodes it while the temporary
# directory is DIR (set by the caller), checks that the decode copy went
# there and that nothing is left behind.
decode_with_temp() {
  local temp="$1"
  mkdir -p "$work/in"; printf 'tmp' > "$work/in/u.txt"
  packf u.txt work
  start_dialog 'C:\work\u.exe' '"u.txt" Decode'
  ls "$temp" | grep -q '^DEC' || fail "the decode copy is not in the temporary directory $temp"
  type_and_ok pw
  rm -f "$c/work/u.txt"
  wd save "$(hexof '"u.txt" Decode')" "$(hexof 'C:\work\u.txt')" 20000 >/dev/null
  wait_file "$c/work/u.txt"; wait "$sfx_pid"
  assert_clean
}

packf() {
  local name="$1" dir="$2"; shift 2
  local derive=("${kdf[@]}")
  [[ " $* " == *" --classic "* ]] && derive=()
  mkdir -p "$c/$dir"
  printf '%s' "${PW:-pw}" > "$work/pw-$$"
  "$L" pack "$work/in/$name" -o "$c/$dir/${name%.*}.exe" --stub "$STUB" --password-file "$work/pw-$$" --force "${derive[@]}" \
    --caption "\"$name\" Decode" "$@" \
    >/dev/null 2>&1 || fail "pack $name failed"
  rm -f "$work/pw-$$"
}

# set_marker FILE OFFSET VALUE: changes one byte of the marker block (not summed)
set_marker() {
  local stub_size; stub_size=$(stat -c %s "$STUB")
  printf "\\x$(printf %02x "$3")" | dd of="$1" bs=1 seek=$((stub_size + $2)) conv=notrunc 2>/dev/null
}



wait_file() { # UNIXPATH
  local end=$((SECONDS + 20 * time_scale))
  while [ $SECONDS -le $end ]; do [ -f "$1" ] && return 0; sleep 0.2; done
  fail "no output file $1"
}

reg_value() { # KEY VALUE -> prints the data or nothing
  wine reg query "HKCU\\$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^    $2    [A-Z_]*    //p"
}
# The passwords sealed files keep: one binary value per file, named by its id.
sealed_saved() { wine reg query 'HKCU\Software\By Korvan\lumisafe\sealed' 2>/dev/null | tr -d '\r' | grep -c '    REG_BINARY    '; }
# The whole store as one line of text (reg export, line breaks and blanks
# gone), in which a remembered password must be readable neither as bytes nor
# as UTF-16, in clear or in hex.
store_text() {
  rm -f "$work/store-$$.reg"
  wine reg export 'HKCU\Software\By Korvan' "$work/store-$$.reg" /y >/dev/null 2>&1
  iconv -f UTF-16LE -t UTF-8 "$work/store-$$.reg" 2>/dev/null | tr -d '\\\r\n '
}
hex_commas() { od -An -tx1 -v | tr -d ' \n' | sed 's/../&,/g; s/,$//'; }
store_holds() { # TEXT: fails the case when the store cannot be read at all
  local text; text=$(store_text)
  [[ "$text" == *lumisafesealed* ]] || fail "the exported store lacks the sealed passwords: $text"
  grep -qi -e "$1" -e "$(printf '%s' "$1" | hex_commas)" -e "$(printf '%s' "$1" | iconv -t UTF-16LE | hex_commas)" <<<"$text"
}


case "$case_name" in
chain)   # launch, decode and cleanup stages leave nothing behind
  pack sample.exe work
  start_dialog 'C:\work\sample.exe' '"sample.txt" Decode'
  wd command "$dlg" 2 >/dev/null
  wait "$sfx_pid" || fail "launch stage exit code $?"
  assert_clean
  [ -f "$c/work/sample.exe" ] || fail "the self-decoding file is gone"
  ;;
blanks)
  pack 'my sample.exe' 'my files'
  start_dialog 'C:\my files\my sample.exe' '"sample.txt" Decode'
  wd command "$dlg" 2 >/dev/null
  wait "$sfx_pid" || fail "launch stage exit code $?"
  assert_clean
  ;;
tamper)
  pack sample.exe work
  size=$(stat -c %s "$c/work/sample.exe")
  # Added to, not overwritten: a sealed payload's bytes are random, and a
  # fixed value would now and then be the one already there.
  old=$(od -An -tu1 -j $((size - 100)) -N 1 "$c/work/sample.exe" | tr -d ' ')
  printf "\\x$(printf %02x $(( (old + 1) % 256 )))" | dd of="$c/work/sample.exe" bs=1 seek=$((size - 100)) conv=notrunc 2>/dev/null
  wine 'C:\work\sample.exe' &
  pid=$!
  expect_box "$(text_of tamper)" "$(text_of warning)"
  expect_box "$(text_of takeout)"
  wait "$pid"; rc=$?
  [ "$rc" = 0 ] || fail "exit code $rc"
  assert_clean
  ;;
signed)  # an Authenticode-signed file of each form opens as any other; a byte after its signature is a change
  command -v osslsigncode >/dev/null || fail "osslsigncode is missing (scripts/setup installs it)"
  mkdir -p "$work/in" "$c/out"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key-$$.pem" -out "$work/cert-$$.pem" -days 2 \
    -subj '/CN=lumisafe test' >/dev/null 2>&1 || fail "openssl req"
  seq 1 20000 > "$work/in/sig.txt"
  for form in "" --classic; do
    rm -f "$c/out/"* "$work/signed-$$.exe"
    packf sig.txt work $form
    osslsigncode sign -certs "$work/cert-$$.pem" -key "$work/key-$$.pem" -in "$c/work/sig.exe" \
      -out "$work/signed-$$.exe" >/dev/null 2>&1 || fail "osslsigncode sign"
    osslsigncode verify -CAfile "$work/cert-$$.pem" -in "$work/signed-$$.exe" 2>&1 | grep -q 'Signature verification: ok' \
      || fail "the signature does not verify"
    cp "$work/signed-$$.exe" "$c/work/sig.exe"
    start_dialog 'C:\work\sig.exe' '"sig.txt" Decode'
    type_and_ok pw
    wd save "$(hexof '"sig.txt" Decode')" "$(hexof 'C:\out\sig.txt')" 20000 >/dev/null
    wait_file "$c/out/sig.txt"; wait "$sfx_pid"
    assert_clean
    cmp -s "$work/in/sig.txt" "$c/out/sig.txt" || fail "${form:-sealed}: signed file decoded other contents"
  done
  printf 'x' >> "$c/work/sig.exe"
  wine 'C:\work\sig.exe' &
  pid=$!
  expect_box "$(text_of tamper)" "$(text_of warning)"
  expect_box "$(text_of takeout)"
  wait "$pid"
  assert_clean
  rm -f "$work/key-$$.pem" "$work/cert-$$.pem" "$work/signed-$$.exe"
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
decode)   # the right password: contents, name, times and attributes as stored; the default key derivation
  kdf=()
  mkdir -p "$work/in" "$c/out"; rm -f "$c/out/"*
  seq 1 20000 > "$work/in/report.txt"; touch -d '2003-04-05 06:07:08.1234567' "$work/in/report.txt"; chmod 444 "$work/in/report.txt"
  packf report.txt work
  chmod 644 "$work/in/report.txt"
  start_dialog 'C:\work\report.exe' '"report.txt" Decode'
  type_and_ok pw
  offered=$(wd save "$(hexof '"report.txt" Decode')" "$(hexof 'C:\out\report.txt')" 20000)
  [ "$offered" = "$(hexof report.txt)" ] || fail "save dialog offered $offered"
  wait_file "$c/out/report.txt"
  wait "$sfx_pid"
  assert_clean
  cmp -s "$work/in/report.txt" "$c/out/report.txt" || fail "contents differ"
  [ "$(stat -c %Y "$work/in/report.txt")" = "$(stat -c %Y "$c/out/report.txt")" ] || fail "last-write time differs"
  [ ! -w "$c/out/report.txt" ] || [ "$(stat -c %A "$c/out/report.txt" | cut -c3)" = - ] || fail "read-only attribute lost"
  [ -f "$c/work/report.exe" ] || fail "kept file was deleted"
  ;;
self_delete)  # the Suicide box, checked and disabled, deletes the file after writing
  mkdir -p "$work/in" "$c/out"; rm -f "$c/out/"*
  printf 'bye' > "$work/in/bye.txt"
  packf bye.txt work --self-delete always
  start_dialog 'C:\work\bye.exe' '"bye.txt" Decode'
  [ "$(wd state "$dlg" 1002 | cut -d' ' -f1-3)" = "1 0 1" ] || fail "self-delete box is not checked and disabled"
  type_and_ok pw
  wd save "$(hexof '"bye.txt" Decode')" "$(hexof 'C:\out\bye.txt')" 20000 >/dev/null
  wait_file "$c/out/bye.txt"
  wait "$sfx_pid"
  assert_clean
  [ ! -f "$c/work/bye.exe" ] || fail "self-decoding file not deleted"
  [ "$(cat "$c/out/bye.txt")" = bye ] || fail "contents"
  ;;
wrong_then_right)
  mkdir -p "$work/in" "$c/out"; rm -f "$c/out/"*
  printf 'secret data' > "$work/in/s.txt"
  wine reg delete 'HKCU\Software\By Korvan\lumisafe\sealed' /f >/dev/null 2>&1
  packf s.txt work --save-password
  start_dialog 'C:\work\s.exe' '"s.txt" Decode'
  wd click "$dlg" 1004 >/dev/null   # ask to save the password
  type_and_ok 'pW'
  expect_box "$(hexof_msg wrong)" "$(hexof '"s.txt" Decode')"
  sleep 0.5
  [ "$(wd text "$dlg" 1000)" = "$(hexof pW)" ] || fail "the password field lost its text"
  [ "$(sealed_saved)" = 0 ] || fail "a failed attempt saved the password"
  [ -z "$(ls "$c/out")" ] || fail "a failed attempt wrote something"
  type_and_ok pw
  wd save "$(hexof '"s.txt" Decode')" "$(hexof 'C:\out\s.txt')" 20000 >/dev/null
  wait_file "$c/out/s.txt"
  wait "$sfx_pid"
  assert_clean
  [ "$(sealed_saved)" = 1 ] || fail "password not saved"
  ;;
saved_password)  # remembered protected, for that file alone; an older plain value moved; forgotten on request
  mkdir -p "$work/in" "$c/out"; rm -f "$c/out/"*
  printf 'x' > "$work/in/k.txt"; printf 'y' > "$work/in/k2.txt"; printf 'z' > "$work/in/kc.txt"
  secret='Remember-Me-42'
  PW=$secret packf k.txt work --save-password
  PW=$secret packf k2.txt work --save-password   # another sealed file, the same password
  packf kc.txt work --save-password --classic
  wine reg delete 'HKCU\Software\By Korvan\lumisafe\sealed' /f >/dev/null 2>&1
  wine reg delete 'HKCU\Software\By Korvan\lumisafe' /v DecodeAutoProtected /f >/dev/null 2>&1
  # An older version's plain value: offered to the classic file, and replaced
  # by a protected one as soon as it is read.
  wine reg add 'HKCU\Software\By Korvan\lumisafe' /v DecodeAuto /t REG_SZ /d pw /f >/dev/null 2>&1
  start_dialog 'C:\work\kc.exe' '"kc.txt" Decode'
  [ "$(wd state "$dlg" 1004 | cut -d' ' -f1-3)" = "1 1 1" ] || fail "save box not checked"
  [ "$(wd text "$dlg" 1000)" = "$(hexof pw)" ] || fail "the older saved password not filled in"
  wd command "$dlg" 2 >/dev/null; wait "$sfx_pid"; assert_clean
  [ -z "$(reg_value 'Software\By Korvan\lumisafe' DecodeAuto)" ] || fail "the plain value is still there"
  [ -n "$(reg_value 'Software\By Korvan\lumisafe' DecodeAutoProtected)" ] || fail "no protected value"
  # A sealed file is not offered the shared password; remembered, its own is
  # kept protected and offered to it alone.
  start_dialog 'C:\work\k.exe' '"k.txt" Decode'
  [ "$(wd state "$dlg" 1004 | cut -d' ' -f3)" = 0 ] || fail "the save box is checked for a sealed file"
  [ "$(wd text "$dlg" 1000)" = - ] || fail "a sealed file was offered the shared password"
  wd click "$dlg" 1004 >/dev/null
  type_and_ok "$secret"
  wd save "$(hexof '"k.txt" Decode')" "$(hexof 'C:\out\k.txt')" 20000 >/dev/null
  wait_file "$c/out/k.txt"; wait "$sfx_pid"; assert_clean
  [ "$(sealed_saved)" = 1 ] || fail "the password was not remembered for the file"
  ! store_holds "$secret" || fail "the remembered password is readable in the registry"
  start_dialog 'C:\work\k2.exe' '"k2.txt" Decode'
  [ "$(wd text "$dlg" 1000)" = - ] || fail "another sealed file was offered the password"
  wd command "$dlg" 2 >/dev/null; wait "$sfx_pid"; assert_clean
  rm -f "$c/out/k.txt"
  start_dialog 'C:\work\k.exe' '"k.txt" Decode'
  [ "$(wd state "$dlg" 1004 | cut -d' ' -f1-3)" = "1 1 1" ] || fail "save box not checked for the file"
  [ "$(wd text "$dlg" 1000)" = "$(hexof "$secret")" ] || fail "the file's remembered password not filled in"
  wd click "$dlg" 1004 >/dev/null   # clear the box: forget it
  wd click "$dlg" 1 >/dev/null
  wd save "$(hexof '"k.txt" Decode')" "$(hexof 'C:\out\k.txt')" 20000 >/dev/null
  wait_file "$c/out/k.txt"
  wait "$sfx_pid"
  assert_clean
  [ "$(sealed_saved)" = 0 ] || fail "password not forgotten"
  ;;
cancel)   # Cancel ends everything cleanly and changes nothing
  mkdir -p "$work/in"
  printf 'x' > "$work/in/c.txt"
  packf c.txt work --self-delete always
  start_dialog 'C:\work\c.exe' '"c.txt" Decode'
  wd command "$dlg" 2 >/dev/null
  wait "$sfx_pid"
  assert_clean
  [ -f "$c/work/c.exe" ] || fail "Cancel deleted the file"
  ;;
cancel_save)  # cancelling the save dialog keeps the dialog; OK repeats the attempt
  mkdir -p "$work/in" "$c/out"; rm -f "$c/out/"*
  printf 'again' > "$work/in/a.txt"
  packf a.txt work --show-encoder --self-delete always
  start_dialog 'C:\work\a.exe' '"a.txt" Decode'
  type_and_ok pw
  info_text >/dev/null; wd command "$info" 1 >/dev/null
  wd save "$(hexof '"a.txt" Decode')" cancel 20000 >/dev/null
  sleep 1
  [ -f "$c/work/a.exe" ] || fail "a cancelled save deleted the file"
  wd click "$dlg" 1 >/dev/null
  info_text >/dev/null; wd command "$info" 1 >/dev/null
  wd save "$(hexof '"a.txt" Decode')" "$(hexof 'C:\out\a.txt')" 20000 >/dev/null
  wait_file "$c/out/a.txt"
  wait "$sfx_pid"
  assert_clean
  [ ! -f "$c/work/a.exe" ] || fail "not deleted after the successful attempt"
  ;;
flags)   # check box states and the collapsed layout for each flag value
  mkdir -p "$work/in"; printf 'x' > "$work/in/f.txt"
  rm -f "$c/work/f-out.txt"
  packf f.txt work --classic   # its flags are changed below, which a sealed file refuses
  for mode in 0:"1 0 1" 1:"1 1 1" 2:"1 1 0" 3:"1 1 0" 255:"1 1 0"; do
    set_marker "$c/work/f.exe" 18 "${mode%%:*}"
    start_dialog 'C:\work\f.exe' '"f.txt" Decode'
    got=$(wd state "$dlg" 1002 | cut -d' ' -f1-3)
    [ "$got" = "${mode#*:}" ] || fail "selfDeleteMode ${mode%%:*}: box $got, wanted ${mode#*:}"
    cancel_dialog
  done
  for allow in 1 255; do
    set_marker "$c/work/f.exe" 20 "$allow"
    start_dialog 'C:\work\f.exe' '"f.txt" Decode'
    [ "$(wd state "$dlg" 1004 | cut -d' ' -f1)" = 1 ] || fail "allowSavePassword $allow: box hidden"
    full=$(wd rect "$dlg"); okfull=$(wd state "$dlg" 1); delfull=$(wd state "$dlg" 1002); savefull=$(wd state "$dlg" 1004)
    cancel_dialog
  done
  wine reg add 'HKCU\Software\By Korvan\lumisafe' /v DecodeAuto /t REG_SZ /d untouched /f >/dev/null 2>&1
  set_marker "$c/work/f.exe" 20 0
  start_dialog 'C:\work\f.exe' '"f.txt" Decode'
  read -r _ st _ sb <<<"$full"; read -r _ ct _ cb <<<"$(wd rect "$dlg")"
  savetop=$(cut -d' ' -f5 <<<"$savefull"); deltop=$(cut -d' ' -f5 <<<"$delfull")
  d=$((deltop - savetop))
  [ "$(wd state "$dlg" 1004 | cut -d' ' -f1)" = 0 ] || fail "save box not hidden"
  [ "$(wd state "$dlg" 1002 | cut -d' ' -f5)" = "$savetop" ] || fail "self-delete box did not take the save box's place"
  [ "$(wd state "$dlg" 1 | cut -d' ' -f5)" = $(( $(cut -d' ' -f5 <<<"$okfull") - d )) ] || fail "OK did not move up by $d"
  [ $((cb - ct)) = $((sb - st - d)) ] || fail "dialog not shorter by $d"
  [ -z "$(wd text "$dlg" 1000 | tr -d -)" ] || fail "saved password read although saving is not allowed"
  type_and_ok pw
  wd save "$(hexof '"f.txt" Decode')" "$(hexof 'C:\work\f-out.txt')" 20000 >/dev/null
  wait_file "$c/work/f-out.txt"; wait "$sfx_pid"
  assert_clean
  [ "$(reg_value 'Software\By Korvan\lumisafe' DecodeAuto)" = untouched ] || fail "registry changed although saving is not allowed"
  ;;
encoder_info)   # first try, counting, naming, Esc keeps the loaded name
  mkdir -p "$work/in" "$c/out"; rm -f "$c/out/"*
  printf 'x' > "$work/in/e.txt"
  packf e.txt work --show-encoder --serial 00ABC123
  key='Software\By Korvan\lumisafe\decode\00ABC123'
  wine reg delete "HKCU\\$key" /f >/dev/null 2>&1
  decode_once() { # ACTION: continue | name:TEXT | esc:TEXT ; sets $info_hex
    start_dialog 'C:\work\e.exe' '"e.txt" Decode'
    type_and_ok pw
    info_text
    case "$1" in
      continue) wd command "$info" 1 >/dev/null ;;
      name:*) wd click "$info" 1005 >/dev/null; sleep 0.5; wd settext "$info" 1006 "$(hexof "${1#name:}")"; wd command "$info" 1 >/dev/null ;;
      esc:*) wd click "$info" 1005 >/dev/null; sleep 0.5; wd settext "$info" 1006 "$(hexof "${1#esc:}")"; wd command "$info" 2 >/dev/null ;;
    esac
    wd save "$(hexof '"e.txt" Decode')" "$(hexof 'C:\out\e.txt')" 20000 >/dev/null
    wait_file "$c/out/e.txt"; wait "$sfx_pid"; rm -f "$c/out/e.txt"
  }
  decode_once continue; t1=$info_hex
  if [ "$lang" = ja ]; then
    want1="$(hexof $'この暗号ファイルは\r\n--00ABC123--\r\n\r\nによって\r\n\r\n')"
    [[ "$t1" == "$want1"* ]] || fail "first text $t1"
    [[ "$t1" == *"$(hexof $'\r\nに作成されました．\r\n\r\nこのIDの暗号解除は\r\n初めてです．')" ]] || fail "first try text $t1"
  else
    [[ "$t1" == "$(hexof $'Encoded by\r\n--00ABC123--\r\n.\r\n\r\n')"* ]] || fail "first text $t1"
    [[ "$t1" == *"$(hexof $'\r\nCreated at above date.\r\n\r\n1st try to decode.')" ]] || fail "first try text $t1"
  fi
  [ "$(reg_value "$key" Count)" = 0x1 ] || fail "Count after first close: $(reg_value "$key" Count)"
  decode_once 'name:Office PC'; t2=$info_hex
  if [ "$lang" = ja ]; then [[ "$t2" == *"$(hexof '2 回目の暗号解除です.')" ]] || fail "second try text $t2"
  else [[ "$t2" == *"$(hexof '2th try to decode.')" ]] || fail "second try text $t2"; fi
  decode_once 'esc:Something else'; t3=$info_hex
  [[ "$t3" == *"$(hexof 'Office PC')"* ]] || fail "stored name not shown: $t3"
  [ "$(reg_value "$key" Name)" = 'Office PC' ] || fail "Esc changed the name: $(reg_value "$key" Name)"
  [ "$(reg_value "$key" Count)" = 0x3 ] || fail "Count after three closes: $(reg_value "$key" Count)"
  assert_clean
  ;;
this_computer)  # the local serial shows "this computer" and no Set name button
  mkdir -p "$work/in" "$c/out"; rm -f "$c/out/"*
  printf 'x' > "$work/in/h.txt"
  local_serial=$(wd serial 'C:\')
  packf h.txt work --show-encoder --serial "$local_serial"
  start_dialog 'C:\work\h.exe' '"h.txt" Decode'
  type_and_ok pw
  info_text; t=$info_hex
  if [ "$lang" = ja ]; then word='このコンピューター'; else word='this computer'; fi
  [[ "$t" == *"$(hexof "$word")"* ]] || fail "no '$word' in $t"
  [ "$(wd state "$info" 1005 | cut -d' ' -f1)" = 0 ] || fail "Set name still shown"
  wd command "$info" 1 >/dev/null
  wd save "$(hexof '"h.txt" Decode')" "$(hexof 'C:\out\h.txt')" 20000 >/dev/null
  wait_file "$c/out/h.txt"; wait "$sfx_pid"
  assert_clean
  ;;
open_after)   # the written file is opened with the program registered for its type
  mkdir -p "$work/in" "$c/out"; rm -f "$c/out/"* "$c/work/opened.txt"
  printf 'open me' > "$work/in/doc.lstest"
  wine reg add 'HKCR\.lstest' /ve /d lstestfile /f >/dev/null 2>&1
  wine reg add 'HKCR\lstestfile\shell\open\command' /ve /d 'C:\windows\system32\cmd.exe /c copy "%1" C:\work\opened.txt' /f >/dev/null 2>&1
  packf doc.lstest work --open-after
  start_dialog 'C:\work\doc.exe' '"doc.lstest" Decode'
  type_and_ok pw
  wd save "$(hexof '"doc.lstest" Decode')" "$(hexof 'C:\out\doc.lstest')" 20000 >/dev/null
  wait_file "$c/work/opened.txt"
  [ "$(cat "$c/work/opened.txt")" = 'open me' ] || fail "opened the wrong file"
  wait "$sfx_pid"
  assert_clean
  ;;
flags_ff)   # 0xFF counts as set for the encoder information and open-after flags
  mkdir -p "$work/in" "$c/out"; rm -f "$c/out/"* "$c/work/opened.txt"
  printf 'ff' > "$work/in/ff.lstest"
  wine reg add 'HKCR\.lstest' /ve /d lstestfile /f >/dev/null 2>&1
  wine reg add 'HKCR\lstestfile\shell\open\command' /ve /d 'C:\windows\system32\cmd.exe /c copy "%1" C:\work\opened.txt' /f >/dev/null 2>&1
  packf ff.lstest work --classic   # flags changed below, as in the flags case
  set_marker "$c/work/ff.exe" 16 255
  set_marker "$c/work/ff.exe" 22 255
  start_dialog 'C:\work\ff.exe' '"ff.lstest" Decode'
  type_and_ok pw
  info_text
  wd command "$info" 1 >/dev/null
  wd save "$(hexof '"ff.lstest" Decode')" "$(hexof 'C:\out\ff.lstest')" 20000 >/dev/null
  wait_file "$c/work/opened.txt"
  wait "$sfx_pid"
  assert_clean
  ;;
locked_output)   # the output cannot be created: a message, nothing lost, dialog stays
  mkdir -p "$work/in" "$c/out"; rm -f "$c/out/"*
  printf 'x' > "$work/in/l.txt"
  packf l.txt work --self-delete always
  wd hold "$(hexof 'C:\out\l.txt')" 30000 >/dev/null &
  holder=$!
  sleep 1
  start_dialog 'C:\work\l.exe' '"l.txt" Decode'
  type_and_ok pw
  wd save "$(hexof '"l.txt" Decode')" "$(hexof 'C:\out\l.txt')" 20000 >/dev/null
  # the overwrite question first (Yes), then the failure
  [ "$(wd answer 20000 6)" != timeout ] || fail "no overwrite question"
  expect_box "$(hexof_msg create)"
  [ -f "$c/work/l.exe" ] || fail "the self-decoding file was deleted although nothing was written"
  wd command "$dlg" 2 >/dev/null
  wait "$sfx_pid"; kill "$holder" 2>/dev/null; wait "$holder" 2>/dev/null
  assert_clean
  ;;
stored_path)   # a stored name with folders in it: only its last part is offered
  mkdir -p "$work/in" "$c/out"; rm -f "$c/out/"*
  printf 'x' > "$work/in/..\\..\\Windows\\evil.txt"
  packf '..\..\Windows\evil.txt' work
  mv "$c/work/..\\..\\Windows\\evil.exe" "$c/work/evil.exe" 2>/dev/null
  start_dialog 'C:\work\evil.exe' '"..\..\Windows\evil.txt" Decode'
  type_and_ok pw
  offered=$(wd save "$(hexof '"..\..\Windows\evil.txt" Decode')" "$(hexof 'C:\out\evil.txt')" 20000)
  [ "$offered" = "$(hexof evil.txt)" ] || fail "offered $offered"
  wait_file "$c/out/evil.txt"; wait "$sfx_pid"
  assert_clean
  ;;
fault_deleted)   # the self-decoding file disappears before OK: a message, then a clean end
  mkdir -p "$work/in"; printf 'x' > "$work/in/g.txt"
  packf g.txt work
  start_dialog 'C:\work\g.exe' '"g.txt" Decode'
  rm -f "$c/work/g.exe"
  type_and_ok pw
  expect_box "$(hexof_msg size)"
  cancel_dialog
  assert_clean
  ;;
fault_truncated)   # cut short before OK: a read failure, or (sealed) a damaged file; never a crash
  mkdir -p "$work/in"; seq 1 5000 > "$work/in/t.txt"
  stub_size=$(stat -c %s "$STUB")
  for keep in $((stub_size + 256 + 1)) -100; do
    packf t.txt work
    if [ "$keep" -lt 0 ]; then truncate -s "$keep" "$c/work/t.exe"; want=damaged; else truncate -s "$keep" "$c/work/t.exe"; want=read; fi
    # the launch stage would refuse the file now, so start the decode stage by hand
    wine "$(wine winepath -w "$STUB" 2>/dev/null | tr -d '\r')" ':::C:\work\t.exe' &
    sfx_pid=$!
    dlg=$(wd dialog "$(hexof '"t.txt" Decode')" 20000)
    [ "$dlg" != timeout ] || fail "no dialog"
    type_and_ok pw
    expect_box "$(hexof_msg $want)"
    cancel_dialog
  done
  wine_wait 60
  ;;
odd_paths)   # blanks, %, &, ^, !, parentheses in the self-decoding file's folder and name
  dir='odd %PATH% & ^x! (1)'
  mkdir -p "$work/in" "$c/$dir"; printf 'odd' > "$work/in/o.txt"
  packf o.txt "$dir"
  mv "$c/$dir/o.exe" "$c/$dir/o 100% (copy)!.exe"
  start_dialog "C:\\$dir\\o 100% (copy)!.exe" '"o.txt" Decode'
  type_and_ok pw
  rm -f "$c/$dir/o.txt"
  wd save "$(hexof '"o.txt" Decode')" "$(hexof "C:\\$dir\\o.txt")" 20000 >/dev/null
  wait_file "$c/$dir/o.txt"; wait "$sfx_pid"
  assert_clean
  [ "$(cat "$c/$dir/o.txt")" = odd ] || fail "contents"
  ;;
japanese_path)   # Japanese folder and file names (code page 932)
  # Wine itself makes the folder and the file, and starts the file: in
  # Japanese mode it mangles non-ASCII text on its command line.
  mkdir -p "$work/in"; printf 'nihongo' > "$work/in/j.txt"
  packf j.txt work
  wd copy "$(hexof 'C:\work\j.exe')" "$(hexof 'C:\日本語 フォルダ\テスト.exe')" || fail "could not place the file"
  wd run "$(hexof 'C:\日本語 フォルダ\テスト.exe')" || fail "could not start the file"
  sfx_pid=""
  dlg=$(wd dialog "$(hexof '"j.txt" Decode')" 20000)
  [ "$dlg" != timeout ] || fail "no password dialog"
  type_and_ok pw
  rm -f "$c/work/j.txt"
  offered=$(wd save "$(hexof '"j.txt" Decode')" "$(hexof 'C:\work\j.txt')" 20000)
  wait_file "$c/work/j.txt"
  assert_clean
  [ "$(cat "$c/work/j.txt")" = nihongo ] || fail "contents"
  ;;
long_path)   # the self-decoding file's path 250 bytes long, near the 259-byte limit
  dir="$(printf 'P%.0s' $(seq 1 120))/$(printf 'Q%.0s' $(seq 1 119))"
  mkdir -p "$work/in" "$c/$dir"; printf 'long' > "$work/in/l.txt"
  packf l.txt work
  mv "$c/work/l.exe" "$c/$dir/l.exe"
  winpath="C:\\$(echo "$dir" | tr / '\\')\\l.exe"
  [ ${#winpath} -ge 248 ] || fail "path only ${#winpath} bytes"
  start_dialog "$winpath" '"l.txt" Decode'
  type_and_ok pw
  rm -f "$c/work/l.txt"
  wd save "$(hexof '"l.txt" Decode')" "$(hexof 'C:\work\l.txt')" 20000 >/dev/null
  wait_file "$c/work/l.txt"; wait "$sfx_pid"
  assert_clean
  ;;
temp_japanese)   # a Japanese temporary directory (code page 932)
  tdir='一時 フォルダ'
  mkdir -p "$c/$tdir"
  # The value goes in through a UTF-16 .reg file: Wine mangles non-ASCII
  # text on its command line in Japanese mode.
  { printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Environment]\r\n'
    printf '"TEMP"="C:\\\\%s"\r\n"TMP"="C:\\\\%s"\r\n' "$tdir" "$tdir"; } | iconv -f UTF-8 -t UTF-16 > "$c/temp.reg"
  wine regedit /S 'C:\temp.reg' >/dev/null 2>&1
  wineserver -k >/dev/null 2>&1 || true
  decode_with_temp "$c/$tdir"
  ;;
temp_odd|temp_long)   # the temporary directory: odd characters, or so long that the cleanup command line passes 512 bytes
  if [ "$case_name" = temp_odd ]; then tdir='tmp 50% & ^x! (y)'; else tdir="$(printf 'L%.0s' $(seq 1 120))\\$(printf 'M%.0s' $(seq 1 115))"; fi
  mkdir -p "$c/$(echo "$tdir" | tr '\\' /)"
  for v in TEMP TMP; do wine reg add 'HKCU\Environment' /v $v /d "C:\\$tdir" /f >/dev/null 2>&1; done
  wineserver -k >/dev/null 2>&1 || true
  decode_with_temp "$c/$(echo "$tdir" | tr '\\' /)"
  ;;
forms)   # every form and codec, compressed and stored, an empty and a one-byte file: each decodes to its input
  mkdir -p "$work/in" "$c/out"
  seq 1 20000 > "$work/in/text.txt"; head -c 70000 /dev/urandom > "$work/in/rand.bin"
  : > "$work/in/empty.txt"; printf 'x' > "$work/in/one.txt"
  # A record larger than the stub's 1 MiB output window, whose compressed
  # form spans several 64 KiB chunks.
  { seq 1 150000; head -c 300000 /dev/urandom | base64; } > "$work/in/big.txt"
  # zstd (the default) with every file; sealed LZAP only where it compresses
  # (the other files are stored, the same as with zstd); classic as before.
  for form in "" "--codec lzap" --classic; do
    files="text.txt rand.bin empty.txt one.txt big.txt"
    [ "$form" = "--codec lzap" ] && files="text.txt big.txt"
    [ "$form" = --classic ] && files="text.txt rand.bin empty.txt one.txt"
    for f in $files; do
      rm -f "$c/out/"*
      packf "$f" work $form
      start_dialog "C:\\work\\${f%.*}.exe" "\"$f\" Decode"
      type_and_ok pw
      wd save "$(hexof "\"$f\" Decode")" "$(hexof "C:\\out\\$f")" 20000 >/dev/null
      wait_file "$c/out/$f"; wait "$sfx_pid"
      assert_clean
      cmp -s "$work/in/$f" "$c/out/$f" || fail "$f ${form:-sealed, zstd}: contents differ"
    done
  done
  ;;
sealed_failures)   # a sealed file's failures, each with its own message; nothing is written
  mkdir -p "$work/in" "$c/out"; rm -f "$c/out/"*
  # A payload whose last bytes lie outside the sum (its length is no multiple of 16).
  stub_size=$(stat -c %s "$STUB")
  for n in $(seq 3001 3040); do
    seq 1 "$n" > "$work/in/v.txt"
    packf v.txt work
    size=$(stat -c %s "$c/work/v.exe")
    [ $(( (size - stub_size - 256) % 16 )) = 0 ] || break
  done
  [ $(( (size - stub_size - 256) % 16 )) != 0 ] || fail "every payload length was a multiple of 16"
  cp "$c/work/v.exe" "$work/v-good.exe"
  attempt() { # WANT-TEXT-HEX [TITLE-HEX]: OK with the password, then the box, then Cancel
    start_dialog 'C:\work\v.exe' '"v.txt" Decode'
    type_and_ok "${3:-pw}"
    expect_box "$1" "${2:-}"
    cancel_dialog
    assert_clean
    [ -z "$(ls -A "$c/out")" ] || fail "something was written: $(ls -A "$c/out")"
    [ -z "$(ls "$c/work" | grep -i '^lsf')" ] || fail "a temporary output was left"
  }
  attempt "$(text_of wrong)" "" 'pW'
  printf '\x01' | dd of="$c/work/v.exe" bs=1 seek=$((stub_size + 18)) conv=notrunc 2>/dev/null   # a flag
  attempt "$(text_of tamper)" "$(text_of warning)"
  cp "$work/v-good.exe" "$c/work/v.exe"
  last=$(od -An -tu1 -j $((size - 1)) -N 1 "$c/work/v.exe" | tr -d ' ')
  printf "\\x$(printf %02x $(( (last + 1) % 256 )))" | dd of="$c/work/v.exe" bs=1 seek=$((size - 1)) conv=notrunc 2>/dev/null
  attempt "$(text_of damaged)"
  cp "$work/v-good.exe" "$c/work/v.exe"
  printf '\x09' | dd of="$c/work/v.exe" bs=1 seek=$((stub_size + 24)) conv=notrunc 2>/dev/null   # an unknown form
  attempt "$(text_of newer)"
  cp "$work/v-good.exe" "$c/work/v.exe"
  # An unknown codec (payload byte 7 made 2), with the integrity sum's lane 7
  # (marker byte 239 + 7) moved by as much, so the launch stage lets it by.
  codec=$(od -An -tu1 -j $((stub_size + 256 + 7)) -N 1 "$c/work/v.exe" | tr -d ' ')
  lane=$(od -An -tu1 -j $((stub_size + 239 + 7)) -N 1 "$c/work/v.exe" | tr -d ' ')
  printf '\x02' | dd of="$c/work/v.exe" bs=1 seek=$((stub_size + 256 + 7)) conv=notrunc 2>/dev/null
  printf "\\x$(printf %02x $(( (lane + 2 - codec + 256) % 256 )))" | dd of="$c/work/v.exe" bs=1 seek=$((stub_size + 239 + 7)) conv=notrunc 2>/dev/null
  attempt "$(text_of newer)"
  ;;
no_crypto)   # without the system's cryptography a sealed file says so, and nothing else happens
  # (a classic file never loads bcrypt.dll: the stub does not import it, see stub_checks)
  mkdir -p "$work/in" "$c/out"; rm -f "$c/out/"*
  printf 'plain' > "$work/in/n.txt"
  packf n.txt work
  export WINEDLLOVERRIDES="mscoree,mshtml=;bcrypt="   # as if bcrypt.dll were missing
  start_dialog 'C:\work\n.exe' '"n.txt" Decode'
  type_and_ok pw
  expect_box "$(text_of nocrypto)"
  cancel_dialog
  assert_clean
  [ -z "$(ls -A "$c/out")" ] || fail "something was written"
  ;;
temp_hostile)   # temporary folders whose names could break a batch file's quoting or change under the OEM code page
  # (a whole %NAME% is left out: Wine expands it in the environment's registry values)
  for tdir in 'a”&mkdir pwned&”b' 'x‰y 100%OS ‹z› João Ø õ Š'; do
    mkdir -p "$c/$tdir"
    for v in TEMP TMP; do wine reg add 'HKCU\Environment' /v $v /d "C:\\$tdir" /f >/dev/null 2>&1; done
    wineserver -k >/dev/null 2>&1 || true
    decode_with_temp "$c/$tdir"
  done
  [ -z "$(find "$WINEPREFIX" -name pwned)" ] || fail "a folder name ran a command"
  ;;
cleanup_guard)   # a cleanup stage started by hand deletes nothing but our own temporary copies
  mkdir -p "$c/work"; cp "$STUB" "$c/work/stub.exe"
  user=$(basename "$(dirname "$temp")"); wtemp="C:\\users\\$user\\Temp"
  for f in "$c/work/tool.exe" "$c/work/DEC1.exe" "$temp/other.exe" "$temp/../victim.exe" "$temp/DEC1.exe" "$temp/DEC2.exe"; do
    printf 'keep' > "$f"
  done
  for arg in "$wtemp\\DEC/../../../../work/tool.exe" "$wtemp\\DEC\\..\\..\\..\\..\\work\\tool.exe" \
             'C:\work\DEC1.exe' "$wtemp\\other.exe" "$wtemp\\..\\victim.exe" "$wtemp\\DEC1.exe:evil" \
             "$wtemp\\DEC1.exe\\..\\..\\victim.exe" "$wtemp\\.\\..\\Temp\\other.exe"; do
    wd cleanup "$(hexof 'C:\work\stub.exe')" "$(hexof ":::$arg")" || fail "cannot start the cleanup stage"
    wine_wait 60
  done
  for f in "$c/work/tool.exe" "$c/work/DEC1.exe" "$temp/other.exe" "$temp/../victim.exe" "$temp/DEC1.exe"; do
    [ -f "$f" ] || fail "the cleanup stage deleted $f"
  done
  # Control: our own decode copy's name is deleted, so the stage did run.
  wd cleanup "$(hexof 'C:\work\stub.exe')" "$(hexof ":::$wtemp\\DEC2.exe")" || fail "cannot start the cleanup stage"
  wine_wait 60
  [ ! -f "$temp/DEC2.exe" ] || fail "control: the cleanup stage did not delete its own decode copy"
  rm -f "$temp/other.exe" "$temp/../victim.exe" "$temp/DEC1.exe"
  assert_clean
  ;;
short_name)   # saved over the self-decoding file under its short name, with Suicide: one whole copy stays
  mkdir -p "$work/in"; printf 'short' > "$work/in/longfilename-document.txt"
  rm -rf "$c/short"
  packf longfilename-document.txt short --self-delete always
  long='C:\short\longfilename-document.exe'
  short=$(wd short "$(hexof "$long")") || fail "no short name"
  [ "$short" != "$(hexof "$long")" ] || fail "the short name is the long one"
  start_dialog "$long" '"longfilename-document.txt" Decode'
  type_and_ok pw
  wd save "$(hexof '"longfilename-document.txt" Decode')" "$short" 20000 >/dev/null
  [ "$(wd answer 20000 6)" != timeout ] || fail "no overwrite question"
  wait "$sfx_pid"
  assert_clean
  [ "$(cat "$c/short/longfilename-document.exe" 2>/dev/null)" = short ] || fail "the output was deleted or not written"
  [ "$(ls "$c/short")" = longfilename-document.exe ] || fail "left in the folder: $(ls "$c/short")"
  ;;
same_name_full)   # saved over the self-decoding file on a disk that fills up: the self-decoding file survives
  mnt="$work/small-$$"; mkdir -p "$mnt"
  if ! mount -t tmpfs -o size=1m tmpfs "$mnt" 2>/dev/null; then echo "skipped: cannot mount a small file system here"; exit 77; fi
  trap 'wine_env_stop; umount "$mnt"; rmdir "$mnt"' EXIT
  ln -sfn "$mnt" "$WINEPREFIX/dosdevices/t:"
  mkdir -p "$work/in"; head -c 600000 /dev/urandom > "$work/in/same.exe"
  packf same.exe work --self-delete always
  cp "$c/work/same.exe" "$mnt/same.exe"; cp "$mnt/same.exe" "$work/same-before.exe"
  start_dialog 'T:\same.exe' '"same.exe" Decode'
  type_and_ok pw
  wd save "$(hexof '"same.exe" Decode')" "$(hexof 'T:\same.exe')" 20000 >/dev/null
  [ "$(wd answer 20000 6)" != timeout ] || fail "no overwrite question"
  expect_box "$(text_of write)"
  cmp -s "$mnt/same.exe" "$work/same-before.exe" || fail "the self-decoding file was changed or deleted"
  [ "$(ls "$mnt")" = same.exe ] || fail "left on the disk: $(ls "$mnt")"
  cancel_dialog
  assert_clean
  rm -f "$WINEPREFIX/dosdevices/t:"
  ;;
killed)   # the decode stage killed in the middle: the next run still works
  mkdir -p "$work/in"; printf 'k' > "$work/in/kk.txt"
  packf kk.txt work
  start_dialog 'C:\work\kk.exe' '"kk.txt" Decode'
  dec=$(ls "$temp" | grep '^DEC.*\.exe$' | head -n 1)
  wine taskkill /f /im "$dec" >/dev/null 2>&1
  wd gone "$dlg" 20000 || fail "the decode stage did not end"
  wait "$sfx_pid"
  wine_wait 60
  rm -f "$temp/$dec"   # a killed process cannot clean up after itself
  start_dialog 'C:\work\kk.exe' '"kk.txt" Decode'
  type_and_ok pw
  rm -f "$c/work/kk.txt"
  wd save "$(hexof '"kk.txt" Decode')" "$(hexof 'C:\work\kk.txt')" 20000 >/dev/null
  wait_file "$c/work/kk.txt"; wait "$sfx_pid"
  assert_clean
  ;;
planted_dll)   # a DLL planted beside the file and in the temporary directory, preferred by Wine's settings, is not loaded
  # propsys.dll is loaded at run time, by the shell when the save dialog
  # opens: the case the DLL search restriction is there for. (Under Wine,
  # user32 imports version.dll and loads uxtheme.dll while the process
  # starts, before the program's first instruction, so planting those two
  # succeeds whatever a program does.)
  mkdir -p "$work/in" "$c/dl"; printf 'p' > "$work/in/pd.txt"
  packf pd.txt dl
  cp "$(dirname "$WDRIVE")/version.dll" "$c/dl/propsys.dll"
  cp "$(dirname "$WDRIVE")/version.dll" "$temp/propsys.dll"
  cp "$WDRIVE" "$c/dl/wdrive.exe"
  rm -f "$c/planted.txt" "$c/dl/pd.txt"
  export WINEDLLOVERRIDES="mscoree,mshtml=;propsys=n,b"
  wine 'C:\dl\wdrive.exe' load propsys.dll >/dev/null
  [ -f "$c/planted.txt" ] || fail "control: a program without the restriction does not load the planted DLL either"
  rm -f "$c/planted.txt"
  start_dialog 'C:\dl\pd.exe' '"pd.txt" Decode'
  type_and_ok pw
  wd save "$(hexof '"pd.txt" Decode')" "$(hexof 'C:\dl\pd.txt')" 20000 >/dev/null
  wait_file "$c/dl/pd.txt"; wait "$sfx_pid"
  assert_clean
  rm -f "$temp/propsys.dll"
  [ ! -f "$c/planted.txt" ] || fail "the planted DLL was loaded"
  ;;
*) fail "unknown case" ;;
esac
echo "ok: $case_name/$lang"
