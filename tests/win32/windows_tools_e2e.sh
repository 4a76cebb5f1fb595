#!/usr/bin/env bash
# End-to-end runs of the Windows tool (lumisafe.exe) and the packer window
# (lumisafe-pack.exe) under Wine, checked against the native tool and the
# decoder stub.
#   windows_tools_e2e.sh WORKDIR LUMISAFE TOOL_EXE PACKER_EXE STUB WDRIVE CASE [en|ja]
set -uo pipefail
work="$1"; L="$2"; TOOL="$3"; PACKER="$4"; STUB="$5"; WDRIVE="$6"; case_name="$7"; lang="${8:-en}"

fail() { echo "FAIL ($case_name/$lang): $*" >&2; exit 1; }
for f in "$L" "$TOOL" "$PACKER" "$STUB" "$WDRIVE"; do
  [ -f "$f" ] || fail "missing $f: build the native and win32 presets (scripts/test does both)"
done

# 77 tells CTest that the test was skipped: nothing Windows runs on this machine.
probe=0; why=$(bash "$(dirname "$0")/../../scripts/win32-probe") || probe=$?
if [ "$probe" = 1 ]; then echo "skipped: $why"; exit 77; fi

source "$(dirname "$0")/wine-env.sh"
wine_env_start "$work" "$lang"
# The programs inside the prefix, as a user has them: C:\bin\.
mkdir -p "$c/bin"
cp "$TOOL" "$c/bin/lumisafe.exe"; cp "$PACKER" "$c/bin/lumisafe-pack.exe"
W='C:\bin\lumisafe.exe'
printf 'pw' > "$c/pw.txt"

wait_file() { # PATH: polls for a file for up to 30 s (scaled)
  local end=$((SECONDS + 30 * time_scale))
  while [ $SECONDS -le $end ]; do [ -f "$1" ] && return 0; sleep 0.1; done
  fail "no $1"
}
wait_text() { # HWND ID HEX: polls a control's text for up to 60 s (scaled)
  local end=$((SECONDS + 60 * time_scale))
  while [ $SECONDS -le $end ]; do [ "$(wd text "$1" "$2")" = "$3" ] && return 0; sleep 0.1; done
  fail "control $2 shows $(wd text "$1" "$2"), not $3"
}
expect_box() { # expected-text-hex: the next message box's text, then OK
  local got
  got=$(wd box 60000)
  [ "$got" != timeout ] || fail "no message box appeared (wanted $1)"
  [ "${got#* }" = "$1" ] || fail "message box text ${got#* } (wanted $1)"
}
same_time() { [ "$(stat -c %Y "$1")" = "$(stat -c %Y "$2")" ] || fail "last-write times of $1 and $2 differ"; }
# Runs lumisafe.exe; its exit code in $rc, its output in $out (without CRs).
win() { out=$(wine "$W" "$@" 2>"$work/stderr" | tr -d '\r'); rc=${PIPESTATUS[0]}; }
# Runs the tool through a batch file in code page 932: in Japanese mode a
# Wine program's non-ASCII arguments from the Unix side arrive mangled.
win_bat() {
  local line="$W" a
  for a in "$@"; do line+=" \"$a\""; done
  printf '@echo off\r\n%s\r\nexit /b %%errorlevel%%\r\n' "$line" | iconv -f UTF-8 -t CP932 > "$c/run.bat" \
    || fail "text outside code page 932: $*"
  out=$(wine cmd /c 'C:\run.bat' 2>"$work/stderr" | tr -d '\r'); rc=${PIPESTATUS[0]}
}
# Text in the ANSI code page of the mode (1252 in English, 932 in Japanese), in hex.
ahex() {
  if [ "$lang" = ja ]; then hexof "$1"; else printf '%s' "$1" | iconv -f UTF-8 -t CP1252 | od -An -tx1 -v | tr -d ' \n' | tr a-f A-F; fi
}
# The stub opens WINEXE with PASSWORD, says the file was made on this
# computer, and saves WINOUT (UNIXOUT here), which must equal ORIGINAL.
stub_decodes() { # WINEXE CAPTION PASSWORD WINOUT UNIXOUT ORIGINAL
  start_dialog "$1" "$2"
  type_and_ok "$3"
  info_text
  local word='this computer'; [ "$lang" = ja ] && word='このコンピューター'
  [[ "$info_hex" == *"$(hexof "$word")"* ]] || fail "the encoder information does not say '$word': $info_hex"
  wd command "$info" 1 >/dev/null
  wd save "$(hexof "$2")" "$(hexof "$4")" 20000 >/dev/null
  wait_file "$5"; wait "$sfx_pid"
  cmp -s "$6" "$5" || fail "the stub decoded other contents"
}
json_field() { python3 -c 'import json,sys; print(json.loads(sys.stdin.read())[sys.argv[1]])' "$1"; }

case "$case_name" in
tool_roundtrip)  # Windows packs, Linux decodes; Linux packs, Windows decodes; both say the same
  rm -rf "$c/out"; mkdir -p "$c/in" "$c/out"
  seq 1 20000 > "$c/in/report.txt"; touch -d '2003-04-05 06:07:08.1234567' "$c/in/report.txt"
  chmod 444 "$c/in/report.txt"   # Wine shows it as read-only
  for form in sealed classic; do
    if [ "$form" = classic ]; then flag=--classic; else flag='--iterations 1000'; fi
    win pack 'C:\in\report.txt' -o "C:\\out\\$form.exe" --password-file 'C:\pw.txt' $flag
    [ "$rc" = 0 ] || fail "pack ($form) exit $rc: $(cat "$work/stderr")"
    "$L" unpack --password-file "$c/pw.txt" -o "$work/$form.txt" --force "$c/out/$form.exe" 2>/dev/null \
      || fail "the Linux tool cannot decode the $form file lumisafe.exe made"
    cmp -s "$c/in/report.txt" "$work/$form.txt" || fail "$form: contents differ"
    same_time "$c/in/report.txt" "$work/$form.txt"
    [ "$("$L" info --json "$c/out/$form.exe" | json_field form)" = "$form" ] || fail "not $form"
  done
  "$L" pack "$c/in/report.txt" -o "$c/out/linux.exe" --stub "$STUB" --password-file "$c/pw.txt" --iterations 1000 \
    --show-encoder --force 2>/dev/null || fail "native pack failed"
  for args in "info --json" "verify --json" "verify --json --password-file PW"; do
    native=$("$L" ${args/PW/$c/pw.txt} "$c/out/linux.exe") || fail "native $args failed"
    win ${args/PW/C:\\pw.txt} 'C:\out\linux.exe'
    [ "$rc" = 0 ] || fail "lumisafe.exe $args exit $rc"
    [ "$out" = "$native" ] || fail "$args differs: $out versus $native"
  done
  win unpack --json --password-file 'C:\pw.txt' -o 'C:\out\w.txt' 'C:\out\linux.exe'
  [ "$rc" = 0 ] || fail "unpack exit $rc: $(cat "$work/stderr")"
  cmp -s "$c/in/report.txt" "$c/out/w.txt" || fail "lumisafe.exe decoded other contents"
  same_time "$c/in/report.txt" "$c/out/w.txt"
  [ "$(stat -c %A "$c/out/w.txt" | cut -c3)" = - ] || fail "the read-only attribute was not applied"
  [ "$(wine "$W" info --json 'C:\out\sealed.exe' >/dev/null; "$L" unpack --json --password-file "$c/pw.txt" -o "$work/ro" --force \
      "$c/out/sealed.exe" | python3 -c 'import json,sys; print(json.load(sys.stdin)["attributeNames"])')" = "['readOnly', 'archive']" ] \
    || fail "lumisafe.exe did not store the read-only attribute"
  native=$("$L" unpack --json --password-file "$c/pw.txt" -o "$work/n.txt" --force "$c/out/linux.exe")
  strip='import json,sys; j=json.loads(sys.stdin.read()); j.pop("output"); print(json.dumps(j))'
  [ "$(echo "$out" | python3 -c "$strip")" = "$(echo "$native" | python3 -c "$strip")" ] \
    || fail "unpack --json differs: $out versus $native"
  # Nothing of the tool's own is left beside the outputs.
  left=$(ls -a "$c/out" | grep '^\.lumisafe-') && fail "temporary files left: $left"
  win unpack --password-file 'C:\pw.txt' -o 'C:\out\w.txt' 'C:\out\linux.exe'
  [ "$rc" = 6 ] || fail "an existing output was not refused (exit $rc)"
  win unpack --force --password-file 'C:\pw.txt' -o 'C:\out\w.txt' 'C:\out\linux.exe'
  [ "$rc" = 0 ] || fail "--force did not replace the output (exit $rc)"
  # A path past MAX_PATH (260 characters), both ways.
  deep="$c/out"; wdeep='C:\out'
  for i in 1 2 3 4 5; do deep+="/a-folder-with-a-long-name-$i-xxxxxxxxxxxxxxxxxxxxxxxxxx"; wdeep+="\\${deep##*/}"; done
  mkdir -p "$deep"; cp "$c/in/report.txt" "$deep/report.txt"
  [ ${#wdeep} -gt 260 ] || fail "the deep path is only ${#wdeep} characters"
  win pack "$wdeep\\report.txt" -o "$wdeep\\deep.exe" --password-file 'C:\pw.txt' --iterations 1000
  [ "$rc" = 0 ] || fail "pack in a deep folder: exit $rc: $(cat "$work/stderr")"
  win unpack --password-file 'C:\pw.txt' -o "$wdeep\\back.txt" "$wdeep\\deep.exe"
  [ "$rc" = 0 ] || fail "unpack in a deep folder: exit $rc: $(cat "$work/stderr")"
  cmp -s "$deep/report.txt" "$deep/back.txt" || fail "deep folder: other contents"
  ;;
tool_stub)  # the stub decodes what lumisafe.exe packs, and knows the computer it was packed on
  mkdir -p "$c/in" "$c/out"; rm -f "$c/out/"*
  seq 1 5000 > "$c/in/notes.txt"
  win pack 'C:\in\notes.txt' -o 'C:\in\notes.exe' --password-file 'C:\pw.txt' --iterations 1000 --show-encoder --force
  [ "$rc" = 0 ] || fail "pack exit $rc: $(cat "$work/stderr")"
  stub_decodes 'C:\in\notes.exe' 'Decode sealed file' pw 'C:\out\notes.txt' "$c/out/notes.txt" "$c/in/notes.txt"
  ;;
tool_console)  # the password typed on the console: asked, not echoed; a wrong one exits 2
  mkdir -p "$c/in"; rm -f "$c/in/"*
  seq 1 3000 > "$c/in/c.txt"
  win pack 'C:\in\c.txt' -o 'C:\in\c.exe' --password-file 'C:\pw.txt' --iterations 1000
  [ "$rc" = 0 ] || fail "pack exit $rc"
  # script(1) gives Wine a terminal, so the program has a real console.
  # The password is typed once the prompt shows (the tool turns the echo off
  # before it writes the prompt), however long Wine takes to get there.
  console() { # PASSWORD: verify --password with it typed; the screen, without escapes and CRs
    local keys="$work/console.keys" screen="$work/console.screen" feed
    rm -f "$keys" "$screen"; mkfifo "$keys"
    timeout $((60 * time_scale)) script -qfc "wine '$W' verify --password 'C:\in\c.exe'; echo RC=\$?" /dev/null \
      <"$keys" >"$screen" &
    local pid=$!
    exec {feed}>"$keys"
    local end=$((SECONDS + 30 * time_scale))
    while [ $SECONDS -le $end ]; do grep -q 'Password:' "$screen" && break; sleep 0.1; done
    printf '%s\r' "$1" >&"$feed"
    wait "$pid"
    exec {feed}>&-
    sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' "$screen" | tr -d '\r'
  }
  screen=$(console sesame-pw)
  [[ "$screen" == *"Password:"* ]] || fail "no prompt: $screen"
  [[ "$screen" != *sesame* ]] || fail "the password was echoed: $screen"
  [[ "$screen" == *"RC=2"* ]] || fail "a wrong password did not exit 2: $screen"
  screen=$(console pw)
  [[ "$screen" == *"RC=0"* ]] || fail "the right password did not open it: $screen"
  # Without a console (standard input from nowhere) it says so instead of waiting.
  win verify --password 'C:\in\c.exe' </dev/null
  [ "$rc" = 1 ] || fail "without a console: exit $rc"
  grep -q 'no terminal to ask the password on' "$work/stderr" || fail "without a console: $(cat "$work/stderr")"
  ;;
tool_names)  # Japanese and accented names in a non-ASCII folder, through the wide-character API
  if [ "$lang" = ja ]; then
    dir='データ 置き場'; names=('報告書.txt' '表計算.csv'); run=win_bat
  else
    dir='Dossier été データ'; names=('café.txt' '日本語.txt'); run=win
  fi
  rm -rf "$c/$dir"; mkdir -p "$c/$dir/out"
  for name in "${names[@]}"; do
    seq 1 3000 > "$c/$dir/$name"
    $run pack "C:\\$dir\\$name" -o "C:\\$dir" --password-file 'C:\pw.txt' --iterations 1000
    [ "$rc" = 0 ] || fail "pack of $name exit $rc: $(cat "$work/stderr")"
    exe="${name%.*}.exe"
    [ -f "$c/$dir/$exe" ] || fail "no $dir/$exe"
    # A sealed file's caption, readable without the password, names nothing.
    [ "$("$L" info --json "$c/$dir/$exe" | json_field caption)" = "Decode sealed file" ] || fail "caption of $name"
    $run unpack --json --password-file 'C:\pw.txt' -o "C:\\$dir\\out" "C:\\$dir\\$exe"
    [ "$rc" = 0 ] || fail "unpack of $exe exit $rc: $(cat "$work/stderr")"
    cmp -s "$c/$dir/$name" "$c/$dir/out/$name" || fail "$name did not come back under its name"
    [ "$("$L" info --json "$c/$dir/$exe" >/dev/null; "$L" unpack --json --password-file "$c/pw.txt" -o "$work/n-out" \
        --force "$c/$dir/$exe" | json_field fileName)" = "$name" ] || fail "the Linux tool reads another stored name"
  done
  ;;
tool_exit_codes)  # the README's table: lumisafe.exe exits as the Linux tool does
  mkdir -p "$c/x"; rm -f "$c/x/"*
  seq 1 3000 > "$c/x/t.txt"; printf 'nope' > "$c/x/bad.txt"; printf 'pw' > "$c/x/pw.txt"
  "$L" pack "$c/x/t.txt" -o "$c/x/ok.exe" --stub "$STUB" --password-file "$c/pw.txt" --iterations 1000 2>/dev/null
  size=$(stat -c %s "$c/x/ok.exe")
  cp "$c/x/ok.exe" "$c/x/changed.exe"; printf 'X' | dd of="$c/x/changed.exe" bs=1 seek=100 conv=notrunc 2>/dev/null
  head -c $((size - 20)) "$c/x/ok.exe" > "$c/x/cut.exe"
  cp "$c/x/ok.exe" "$c/x/newer.exe"
  marker=$("$L" info --json "$c/x/ok.exe" | json_field markerOffset)
  printf '\x09' | dd of="$c/x/newer.exe" bs=1 seek=$((marker + 24)) conv=notrunc 2>/dev/null
  # expected|arguments (FILE stands for a file in C:\x, PW for a password file)
  while IFS='|' read -r want args; do
    [ -n "$want" ] || continue
    nat=${args//FILE/$c/x/}; nat=${nat//PW/$c/x/}
    w=${args//FILE/C:\\x\\}; w=${w//PW/C:\\x\\}
    "$L" $nat >/dev/null 2>&1; native_rc=$?
    win $w
    [ "$native_rc" = "$want" ] || fail "the Linux tool exits $native_rc for '$args' (README: $want)"
    [ "$rc" = "$want" ] || fail "lumisafe.exe exits $rc for '$args' (README: $want): $(cat "$work/stderr")"
  done <<'EOF'
0|info FILEok.exe
1|frob
1|pack --store --lookahead FILEt.txt
2|verify --password-file PWbad.txt FILEok.exe
3|info FILEchanged.exe
4|info FILEt.txt
5|verify --password-file PWpw.txt FILEcut.exe
6|info FILEmissing.exe
7|verify --password-file PWpw.txt FILEnewer.exe
EOF
  ;;
packer)  # the packer window: the file as its argument, the passwords twice, the stub decodes; Browse; drop
  mkdir -p "$c/in"; rm -f "$c/in/"*
  seq 1 8000 > "$c/in/report.txt"
  if [ "$lang" = ja ]; then title='lumisafe: ファイルの暗号化'; differ='2 つのパスワードが一致しません。もう一度入力してください。'
  else title='lumisafe: pack a file'; differ='The two passwords are not the same. Type them again.'; fi
  wine 'C:\bin\lumisafe-pack.exe' 'C:\in\report.txt' &
  packer_pid=$!
  pk=$(wd dialog "$(hexof "$title")" 20000)
  [ "$pk" != timeout ] || fail "no packer window"
  # Sealed: the proposed caption names nothing; the file's name is a choice.
  [ "$(wd text "$pk" 1005)" = "$(hexof 'Decode sealed file')" ] || fail "caption not proposed: $(wd text "$pk" 1005)"
  wd items "$pk" 1005 | grep -qx "$(hexof '"report.txt" Decode')" || fail "the name is not offered: $(wd items "$pk" 1005)"
  [ "$(wd text "$pk" 1012)" = "$(hexof 'C:\in\report.exe')" ] || fail "output not proposed: $(wd text "$pk" 1012)"
  wd settext "$pk" 1003 "$(hexof secret1)" >/dev/null; wd settext "$pk" 1004 "$(hexof secret2)" >/dev/null
  wd click "$pk" 1 >/dev/null
  expect_box "$(hexof "$differ")"
  [ ! -f "$c/in/report.exe" ] || fail "packed although the passwords differ"
  wd settext "$pk" 1004 "$(hexof secret1)" >/dev/null
  wd click "$pk" 1007 >/dev/null   # show the encoding computer
  wd click "$pk" 1 >/dev/null
  got=$(wd box 60000)
  [[ "${got#* }" == *"$(hexof 'C:\in\report.exe')"* ]] || fail "no result naming the file: $got"
  wait_file "$c/in/report.exe"
  [ "$("$L" info --json "$c/in/report.exe" | json_field form)" = sealed ] || fail "not sealed by default"
  [ "$("$L" info --json "$c/in/report.exe" | json_field showEncoderInfo)" = 1 ] || fail "the option was not stored"
  stub_decodes 'C:\in\report.exe' 'Decode sealed file' secret1 'C:\in\decoded.txt' "$c/in/decoded.txt" "$c/in/report.txt"

  # Browse: a Japanese name chosen in the open dialog, packed in the classic form.
  if [ "$lang" = ja ]; then name='日本語.txt'; opentitle='暗号化するファイルの選択'
  else name='café.txt'; opentitle='Choose the file to pack'; fi
  seq 1 100 > "$c/in/$name"
  wd click "$pk" 1002 >/dev/null
  wd save "$(ahex "$opentitle")" "$(ahex "C:\\in\\$name")" 20000 >/dev/null
  wait_text "$pk" 1001 "$(ahex "C:\\in\\$name")"
  wd click "$pk" 1011 >/dev/null   # classic: the caption follows the form
  [ "$(wd text "$pk" 1005)" = "$(ahex "\"$name\" Decode")" ] || fail "the classic caption was not proposed: $(wd text "$pk" 1005)"
  wd settext "$pk" 1003 "$(hexof pw)" >/dev/null; wd settext "$pk" 1004 "$(hexof pw)" >/dev/null
  wd click "$pk" 1 >/dev/null
  wd box 60000 >/dev/null
  exe="$c/in/${name%.*}.exe"
  wait_file "$exe"
  [ "$("$L" info --json "$exe" | json_field form)" = classic ] || fail "the classic choice was not used"
  "$L" unpack --password-file "$c/pw.txt" -o "$work/browsed" --force "$exe" 2>/dev/null || fail "cannot decode $exe"
  cmp -s "$c/in/$name" "$work/browsed" || fail "browsed file: other contents"

  # Dropped on the window: the caption and the output follow the new file;
  # a folder is refused with a word.
  seq 1 50 > "$c/in/dropped.txt"
  wd drop "$pk" "$(ahex 'C:\in\dropped.txt')" >/dev/null || fail "the drop did not arrive"
  wait_text "$pk" 1001 "$(ahex 'C:\in\dropped.txt')"
  [ "$(wd text "$pk" 1005)" = "$(ahex '"dropped.txt" Decode')" ] || fail "the caption did not follow the dropped file"
  [ "$(wd text "$pk" 1012)" = "$(ahex 'C:\in\dropped.exe')" ] || fail "the output did not follow the dropped file"
  if [ "$lang" = ja ]; then notafile='暗号化できるファイルではありません (フォルダですか?)。'
  else notafile='This is not a file that can be packed (a folder?).'; fi
  wd drop "$pk" "$(ahex 'C:\in')" >/dev/null || fail "the drop did not arrive"
  expect_box "$(ahex "$notafile")"
  [ "$(wd text "$pk" 1001)" = "$(ahex 'C:\in\dropped.txt')" ] || fail "a dropped folder replaced the file"

  wd click "$pk" 2 >/dev/null
  wd gone "$pk" 20000 || fail "the packer window did not close"
  wait "$packer_pid"
  ;;
packer_cancel)  # Close before packing and Cancel while packing leave nothing behind
  mkdir -p "$c/in"; rm -rf "$c/in/"* "$c/in/".lumisafe-*
  head -c $((160 << 20)) /dev/urandom > "$c/in/big.bin"
  if [ "$lang" = ja ]; then title='lumisafe: ファイルの暗号化'; cancelled='中止しました。ファイルは作成されていません。'; close='閉じる'
  else title='lumisafe: pack a file'; cancelled='Cancelled. No file was written.'; close=Close; fi
  wine 'C:\bin\lumisafe-pack.exe' 'C:\in\big.bin' &
  packer_pid=$!
  pk=$(wd dialog "$(hexof "$title")" 20000)
  [ "$pk" != timeout ] || fail "no packer window"
  wd settext "$pk" 1003 "$(hexof pw)" >/dev/null; wd settext "$pk" 1004 "$(hexof pw)" >/dev/null
  wd click "$pk" 1 >/dev/null
  sleep 1
  wd click "$pk" 2 >/dev/null      # Cancel, while it works
  wait_text "$pk" 1015 "$(hexof "$cancelled")"
  [ "$(wd text "$pk" 2)" = "$(hexof "$close")" ] || fail "the button did not turn back into $close"
  wd click "$pk" 2 >/dev/null      # Close
  wd gone "$pk" 20000 || fail "the packer window did not close"
  wait "$packer_pid"
  left=$(ls -a "$c/in" | grep -v '^\.\.\?$' | grep -v '^big.bin$')
  [ -z "$left" ] || fail "left behind: $left"
  ;;
planted_dll)  # DLLs planted beside the programs, preferred by Wine's settings, are not loaded
  # bcrypt.dll is loaded when a file is sealed, propsys.dll by the shell when
  # a file dialog opens: both at run time, where the search restriction acts.
  mkdir -p "$c/in"; seq 1 100 > "$c/in/p.txt"
  for dll in bcrypt propsys; do cp "$(dirname "$WDRIVE")/version.dll" "$c/bin/$dll.dll"; done
  cp "$WDRIVE" "$c/bin/wdrive.exe"
  export WINEDLLOVERRIDES="mscoree,mshtml=;bcrypt,propsys=n,b"
  rm -f "$c/planted.txt"
  wine 'C:\bin\wdrive.exe' load bcrypt.dll >/dev/null
  [ -f "$c/planted.txt" ] || fail "control: a program without the restriction does not load the planted DLL either"
  rm -f "$c/planted.txt"
  win pack 'C:\in\p.txt' -o 'C:\in\p.exe' --password-file 'C:\pw.txt' --iterations 1000 --force
  [ "$rc" = 0 ] || fail "pack exit $rc: $(cat "$work/stderr")"
  [ ! -f "$c/planted.txt" ] || fail "lumisafe.exe loaded the planted DLL"
  if [ "$lang" = ja ]; then title='lumisafe: ファイルの暗号化'; opentitle='暗号化するファイルの選択'; savetitle='自己復号ファイルの保存先'
  else title='lumisafe: pack a file'; opentitle='Choose the file to pack'; savetitle='Save the self-decoding file as'; fi
  wine 'C:\bin\lumisafe-pack.exe' &
  packer_pid=$!
  pk=$(wd dialog "$(hexof "$title")" 20000)
  [ "$pk" != timeout ] || fail "no packer window"
  wd click "$pk" 1002 >/dev/null
  [ "$(wd save "$(ahex "$opentitle")" cancel 20000)" = cancelled ] || fail "no open dialog"
  sleep 1
  wd click "$pk" 1013 >/dev/null
  [ "$(wd save "$(ahex "$savetitle")" cancel 20000)" = cancelled ] || fail "no save dialog"
  sleep 1
  wd click "$pk" 2 >/dev/null
  wd gone "$pk" 20000 || fail "the packer window did not close"
  wait "$packer_pid"
  rm -f "$c/bin/"*.dll
  [ ! -f "$c/planted.txt" ] || fail "lumisafe-pack.exe loaded the planted DLL"
  ;;
*) fail "unknown case $case_name" ;;
esac
echo "ok ($case_name/$lang)"
