#!/usr/bin/env bash
# End-to-end checks of the lumisafe tool: tool_test.sh LUMISAFE CASE
set -uo pipefail
L="$1"; case_name="$2"
work="$(mktemp -d)"; trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
cd "$work"
head -c 1024 /dev/zero > stub.bin
printf 'secret' > pw
fail() { echo "FAIL: $*" >&2; exit 1; }
expect_rc() { # expected-rc command...
  local want="$1"; shift
  "$@" >out.txt 2>err.txt; local got=$?
  [ "$got" = "$want" ] || fail "$* -> exit $got, want $want; stderr: $(cat err.txt)"
}
no_leftovers() { # no temporary files of ours in the given folders
  for d in "$@"; do
    if ls -A "$d" | grep -q 'lumisafe-'; then fail "temporary file left in $d: $(ls -A "$d")"; fi
  done
}

case "$case_name" in
roundtrip)
  head -c 0 /dev/zero > empty.dat
  printf 'x' > one.txt
  seq 1 400000 > numbers.txt
  head -c 3000000 /dev/urandom > random.bin
  cat /bin/ls /bin/cp /bin/cat > binaries.bin
  # Every codec and form: zstd (the default), its highest level with the
  # long window, LZAP sealed, stored, and classic. numbers.txt's frame spans
  # many chunks and expands to more than one 1 MiB output window.
  for f in empty.dat one.txt numbers.txt random.bin binaries.bin; do
    for store in "" "--level 19 --long" "--codec lzap" --store --classic; do
      rm -rf out; mkdir out
      touch -d '2001-02-03 04:05:06.1234567' "$f"  # times are kept to 100 ns
      expect_rc 0 "$L" pack "$f" --stub stub.bin --password-file pw -o pkg.exe --force $store
      expect_rc 0 "$L" verify pkg.exe
      expect_rc 0 "$L" unpack pkg.exe -o out --password-file pw
      cmp -s "$f" "out/$f" || fail "$f $store: contents differ"
      [ "$(stat -c %Y.%y "$f")" = "$(stat -c %Y.%y "out/$f")" ] || fail "$f: times differ"
      no_leftovers . out
    done
  done
  ;;
payload_form)
  head -c 200000 /dev/urandom > random.bin
  seq 1 50000 > text.txt
  "$L" pack random.bin --stub stub.bin --password-file pw -o r.exe --classic || fail pack
  size=$(stat -c %s r.exe)
  [ "$size" = $((1024 + 256 + 305 + 200000)) ] || fail "random data not stored: $size"
  # Sealed: a 100-byte header and a 16-byte tag per 64 KiB chunk (four here).
  "$L" pack random.bin --stub stub.bin --password-file pw -o s.exe || fail pack
  size=$(stat -c %s s.exe)
  [ "$size" = $((1024 + 256 + 100 + 305 + 200000 + 4 * 16)) ] || fail "sealed stored size: $size"
  "$L" pack text.txt --stub stub.bin --password-file pw -o t.exe || fail pack
  [ "$(stat -c %s t.exe)" -lt "$(stat -c %s text.txt)" ] || fail "text not compressed"
  # info names the codec; an unknown one is a newer version's, refused
  # before the password is even tried.
  "$L" info t.exe | grep -q 'zstd, level 9' || fail "info does not name zstd level 9: $("$L" info t.exe)"
  "$L" info t.exe --json | grep -q '"codec": *"zstd"' || fail "info --json has no codec"
  "$L" pack text.txt --stub stub.bin --password-file pw -o l.exe --codec lzap || fail "pack --codec lzap"
  "$L" info l.exe | grep -q 'LZAP, or stored' || fail "info of an LZAP file: $("$L" info l.exe)"
  python3 - t.exe <<'PY'
import sys
p = sys.argv[1]; d = bytearray(open(p, 'rb').read())
m = d.find(b'SEAL', 1024 + 256)
d[m + 7] = 2
open(p, 'wb').write(d)
PY
  expect_rc 7 "$L" unpack t.exe -o newer.out --password-file pw
  grep -q 'codec 2' err.txt || fail "unknown codec not named: $(cat err.txt)"
  [ ! -e newer.out ] || fail "output written for an unknown codec"
  for bad in "--classic --level 3" "--store --level 3" "--lookahead --level 3" "--classic --codec zstd" "--level 20" "--level 0"; do
    expect_rc 1 "$L" pack text.txt --stub stub.bin --password-file pw -o bad.exe $bad
  done
  # --lookahead parses differently; the file still decodes to the input.
  "$L" pack text.txt --stub stub.bin --password-file pw -o ahead.exe --lookahead || fail "pack --lookahead"
  mkdir out; "$L" unpack ahead.exe -o out --password-file pw || fail "unpack of --lookahead"
  cmp -s text.txt out/text.txt || fail "--lookahead round trip"
  ;;
metadata)
  printf 'keep me' > ro.txt; chmod 444 ro.txt
  expect_rc 0 "$L" pack ro.txt --stub stub.bin --password-file pw --serial 00abc123
  mkdir out
  expect_rc 0 "$L" unpack ro.exe -o out --password-file pw --json
  grep -q '"attributes":33' out.txt || fail "read-only attribute not stored: $(cat out.txt)"
  grep -q '"encoderSerial":"00ABC123"' out.txt || fail "serial: $(cat out.txt)"
  grep -q '"fileName":"ro.txt"' out.txt || fail "name: $(cat out.txt)"
  [ -w out/ro.txt ] && [ "$(id -u)" != 0 ] && fail "read-only bit not applied"
  [ "$(stat -c %a out/ro.txt)" = 444 ] || [ "$(stat -c %a out/ro.txt)" = 404 ] || [ "$(stat -c %a out/ro.txt)" = 400 ] || fail "mode $(stat -c %a out/ro.txt)"
  ;;
flags)
  printf 'data' > f.txt
  expect_rc 0 "$L" pack f.txt --stub stub.bin --password-file pw --open-after --self-delete always --save-password --show-encoder --caption 'Hello there'
  expect_rc 0 "$L" info f.exe --json
  grep -q '"openAfterDecode":1,"selfDeleteMode":0,"allowSavePassword":1,"showEncoderInfo":1' out.txt || fail "flags: $(cat out.txt)"
  grep -q '"caption":"Hello there"' out.txt || fail "caption: $(cat out.txt)"
  expect_rc 0 "$L" pack f.txt --stub stub.bin --password-file pw --self-delete on -o g.exe
  expect_rc 0 "$L" info g.exe --json
  grep -q '"openAfterDecode":0,"selfDeleteMode":1,"allowSavePassword":0,"showEncoderInfo":0' out.txt || fail "defaults: $(cat out.txt)"
  # The caption is readable without the password: a sealed file's names
  # nothing of its input; a classic file's names it, as that form always did.
  grep -q '"caption":"Decode sealed file"' out.txt || fail "default caption: $(cat out.txt)"
  expect_rc 0 "$L" pack f.txt --stub stub.bin --password-file pw --classic -o k.exe
  expect_rc 0 "$L" info k.exe --json
  grep -q '"caption":"\\"f.txt\\" Decode"' out.txt || fail "classic default caption: $(cat out.txt)"
  # A caption longer than the field is cut to 206 bytes.
  expect_rc 0 "$L" pack f.txt --stub stub.bin --password-file pw --caption "$(printf 'c%.0s' $(seq 300))" -o h.exe --force
  [ "$(dd if=h.exe bs=1 skip=$((1024 + 32)) count=207 2>/dev/null | tr -d '\0' | wc -c)" = 206 ] || fail "long caption"
  ;;
errors)
  printf 'some data here, some data here' > f.txt
  "$L" pack f.txt --stub stub.bin --password-file pw >/dev/null 2>&1 || fail pack
  printf 'Secret' > wrong
  mkdir out
  expect_rc 2 "$L" unpack f.exe -o out --password-file wrong
  # One payload byte changed (added to: the sealed header's salt there is
  # random, so writing a fixed value would leave it as it was now and then).
  cp f.exe tampered.exe
  old=$(od -An -tu1 -j 1300 -N 1 tampered.exe | tr -d ' ')
  printf "\\x$(printf %02x $(( (old + 1) % 256 )))" | dd of=tampered.exe bs=1 seek=1300 conv=notrunc 2>/dev/null
  expect_rc 3 "$L" unpack tampered.exe -o out --password-file pw
  expect_rc 3 "$L" verify tampered.exe
  expect_rc 3 "$L" info tampered.exe
  expect_rc 4 "$L" unpack stub.bin -o out --password-file pw
  expect_rc 4 "$L" verify f.txt
  head -c 1290 f.exe > cut.exe
  expect_rc 5 "$L" unpack cut.exe -o out --password-file pw   # sealed: a cut file is damaged
  "$L" pack f.txt --stub stub.bin --password-file pw -o classic.exe --classic >/dev/null 2>&1 || fail pack
  head -c 1290 classic.exe > cut.exe
  expect_rc 3 "$L" unpack cut.exe -o out --password-file pw   # classic: only the sum tells
  head -c 1281 f.exe > onebyte.exe
  expect_rc 5 "$L" unpack onebyte.exe -o out --password-file pw --force
  expect_rc 6 "$L" unpack missing.exe -o out --password-file pw
  expect_rc 1 "$L" unpack
  expect_rc 1 "$L" frobnicate f.exe
  expect_rc 1 "$L" pack f.txt --self-delete sometimes
  expect_rc 1 "$L" pack f.txt --stub f.txt --password-file pw
  expect_rc 1 "$L" pack f.txt --stub f.exe --password-file pw
  [ -z "$(ls -A out)" ] || fail "output left behind: $(ls -A out)"
  # An input past the limit is refused from its size, before it is read (a
  # sparse file: reading it would take many seconds), naming the limit.
  truncate -s 2147482100 big.bin
  expect_rc 1 "$L" pack big.bin --stub stub.bin --password-file pw -o big.exe
  grep -q 'holds at most 2146957802 bytes' err.txt || fail "limit message: $(cat err.txt)"
  expect_rc 1 "$L" pack big.bin --stub stub.bin --password-file pw -o big.exe --classic
  grep -q 'holds at most 2147482062 bytes' err.txt || fail "classic limit message: $(cat err.txt)"
  [ ! -e big.exe ] || fail "an over-limit input made a file"
  rm -f big.bin
  # Every error is one line on stderr.
  "$L" unpack f.exe -o out --password-file wrong 2>err.txt
  [ "$(wc -l < err.txt)" = 1 ] || fail "error is not one line: $(cat err.txt)"
  grep -q -- '--help\|exit codes' <("$L" --help) || fail "help"
  ;;
no_overwrite)
  printf 'new contents' > f.txt
  "$L" pack f.txt --stub stub.bin --password-file pw >/dev/null 2>&1 || fail pack
  mkdir out; printf 'old' > out/f.txt
  expect_rc 6 "$L" unpack f.exe -o out --password-file pw
  [ "$(cat out/f.txt)" = old ] || fail "overwritten without --force"
  expect_rc 0 "$L" unpack f.exe -o out --password-file pw --force
  [ "$(cat out/f.txt)" = 'new contents' ] || fail "--force did not overwrite"
  expect_rc 0 "$L" unpack f.exe -o renamed.bin --password-file pw
  [ "$(cat renamed.bin)" = 'new contents' ] || fail "-o PATH"
  expect_rc 6 "$L" pack f.txt --stub stub.bin --password-file pw
  expect_rc 0 "$L" pack f.txt --stub stub.bin --password-file pw --force
  # An unwritable output folder fails cleanly and leaves the input alone.
  if [ "$(id -u)" != 0 ]; then
    mkdir locked; chmod 555 locked
    expect_rc 6 "$L" unpack f.exe -o locked --password-file pw
  fi
  [ -f f.exe ] || fail "input deleted"
  no_leftovers . out
  ;;
password_file)
  printf 'data' > f.txt
  printf 'secret\r\n' > crlf; printf 'secret\n' > lf; printf 'secret\n\n' > twolf
  "$L" pack f.txt --stub stub.bin --password-file pw >/dev/null 2>&1 || fail pack
  mkdir out
  expect_rc 0 "$L" unpack f.exe -o out/a --password-file crlf
  expect_rc 0 "$L" unpack f.exe -o out/b --password-file lf
  expect_rc 2 "$L" unpack f.exe -o out/c --password-file twolf
  printf '' > emptypw
  expect_rc 1 "$L" pack f.txt --stub stub.bin --password-file emptypw -o e.exe   # an empty password protects nothing
  [ ! -e e.exe ] || fail "a file was made with an empty password"
  expect_rc 1 "$L" unpack f.exe -o out/e </dev/null   # no terminal to ask on
  ;;
codepages)
  printf 'data' > f.txt
  printf 'pässwörd' > latin; printf 'パスワード' > kana
  "$L" pack f.txt --stub stub.bin --password-file latin -o l.exe >/dev/null 2>&1 || fail pack
  "$L" pack f.txt --stub stub.bin --password-file kana -o k.exe >/dev/null 2>&1 || fail pack
  mkdir out
  expect_rc 0 "$L" unpack l.exe -o out/1 --password-file latin
  expect_rc 0 "$L" unpack k.exe -o out/2 --password-file kana
  expect_rc 0 "$L" unpack k.exe -o out/3 --password-file kana --codepage 932
  expect_rc 2 "$L" unpack l.exe -o out/4 --password-file kana
  # The CP932 bytes of the password, given raw, open the same file.
  printf '\x83\x70\x83\x58\x83\x8f\x81\x5b\x83\x68' > raw932
  expect_rc 0 "$L" unpack k.exe -o out/5 --password-file raw932
  # Japanese names travel as Shift-JIS and come back as UTF-8.
  printf 'japanese' > '日本語のファイル.txt'
  expect_rc 0 "$L" pack '日本語のファイル.txt' --stub stub.bin --password-file pw --classic   # its caption names it
  expect_rc 0 "$L" info '日本語のファイル.exe' --json
  grep -q '"caption":"\\"日本語のファイル.txt\\" Decode"' out.txt || fail "caption: $(cat out.txt)"
  expect_rc 0 "$L" unpack '日本語のファイル.exe' -o out --password-file pw --json
  [ "$(cat 'out/日本語のファイル.txt')" = japanese ] || fail "japanese name: $(ls out)"
  printf 'x' > 'Ελληνικά.txt'
  expect_rc 1 "$L" pack 'Ελληνικά.txt' --stub stub.bin --password-file pw
  ;;
sealed)
  # Text that zstd cannot shrink below a few 64 KiB chunks.
  { seq 1 30000; head -c 200000 /dev/urandom | base64; } > s.txt
  expect_rc 0 "$L" pack s.txt --stub stub.bin --password-file pw --iterations 5000
  expect_rc 0 "$L" info s.exe --json
  grep -q '"form":"sealed","cipher":"AES-256-GCM","kdf":"PBKDF2-HMAC-SHA256","iterations":5000' out.txt \
    || fail "info --json: $(cat out.txt)"
  expect_rc 0 "$L" info s.exe
  grep -q 'sealed: AES-256-GCM, key from PBKDF2-HMAC-SHA256 with 5000 iterations' out.txt || fail "info: $(cat out.txt)"
  expect_rc 0 "$L" unpack s.exe -o out.txt.json --password-file pw --json
  grep -q '"form":"sealed"' out.txt || fail "unpack --json: $(cat out.txt)"
  expect_rc 1 "$L" pack s.txt --stub stub.bin --password-file pw -o x.exe --classic --iterations 5000
  expect_rc 1 "$L" pack s.txt --stub stub.bin --password-file pw -o x.exe --iterations 10
  expect_rc 0 "$L" pack s.txt --stub stub.bin --password-file pw -o c.exe --classic
  expect_rc 0 "$L" info c.exe
  grep -q 'classic (obfuscation only' out.txt || fail "classic info: $(cat out.txt)"
  printf 'wrong' > wrongpw
  size=$(stat -c %s s.exe); p=$((1024 + 256))   # payload offset
  # name  offset  exit: each change of a sealed file told for what it is, nothing written
  while read -r name offset want; do
    cp s.exe t.exe
    old=$(od -An -tu1 -j "$offset" -N 1 t.exe | tr -d ' ')
    printf "\\x$(printf %02x $(( (old + 1) % 256 )))" | dd of=t.exe bs=1 seek="$offset" conv=notrunc 2>/dev/null
    rm -rf out; mkdir out
    expect_rc "$want" "$L" unpack t.exe -o out --password-file pw
    [ -z "$(ls -A out)" ] || fail "$name: something was written: $(ls -A out)"
  done <<ROWS
caption $((1024 + 33)) 3
flag $((1024 + 18)) 3
form $((1024 + 24)) 7
version $((p + 4)) 7
kdf $((p + 5)) 7
chunk $((p + 100 + 10)) 5
tag $((p + 100 + 65536)) 5
last $((size - 1)) 5
ROWS
  for cut in 1 16 $((size - p - 100)); do
    cp s.exe t.exe; truncate -s $((size - cut)) t.exe
    rm -rf out; mkdir out
    expect_rc 5 "$L" unpack t.exe -o out --password-file pw
    [ -z "$(ls -A out)" ] || fail "cut by $cut: something was written"
  done
  rm -rf out; mkdir out
  expect_rc 2 "$L" unpack s.exe -o out --password-file wrongpw
  [ -z "$(ls -A out)" ] || fail "wrong password: something was written"
  # A changed program part behind an intact payload: the sum tells it.
  cp s.exe t.exe; printf '\x01' | dd of=t.exe bs=1 seek=7 conv=notrunc 2>/dev/null
  expect_rc 3 "$L" unpack t.exe -o out --password-file pw
  grep -q 'program part' err.txt || fail "changed stub: $(cat err.txt)"
  expect_rc 0 "$L" unpack t.exe -o out --password-file pw --force
  cmp -s s.txt out/s.txt || fail "--force on a changed stub"
  ;;
terminal)  # the password on a terminal: asked without echo, and Ctrl-C there gives the echo back
  command -v script >/dev/null || fail "script(1) is missing (util-linux)"
  printf 'one' > a.txt
  expect_rc 0 "$L" pack a.txt --stub stub.bin --password-file pw -o a.exe --iterations 1000
  on_terminal() { # KEYS COMMAND: COMMAND on a new terminal, KEYS typed a second after it starts
    (sleep 1; printf "$1"; sleep 2) | script -qc "trap ':' INT; $2; echo rc=\$?; stty -a | grep -o -- ' -\\?echo '" /dev/null | tr -d '\r'
  }
  screen=$(on_terminal 'secret\r' "'$L' verify --password a.exe")
  [[ "$screen" == *"Password:"* ]] || fail "no prompt: $screen"
  [[ "$screen" != *secret* ]] || fail "the password was echoed: $screen"
  [[ "$screen" == *"rc=0"* ]] || fail "the typed password did not open it: $screen"
  screen=$(on_terminal '\003' "'$L' verify --password a.exe")
  [[ "$screen" == *"rc=130"* ]] || fail "Ctrl-C did not end it: $screen"
  [[ "$screen" == *" echo "* && "$screen" != *"-echo"* ]] || fail "the terminal was left without echo: $screen"
  ;;
cli)   # the command line as a user of gzip or xz expects it
  printf 'one' > a.txt
  expect_rc 0 "$L" --version;            grep -q '^lumisafe [0-9]' out.txt || fail "--version: $(cat out.txt)"
  expect_rc 1 "$L";                      grep -q '^Usage: lumisafe' out.txt || fail "no command: $(cat out.txt)"
  # arguments | exit | a word the one-line error must hold
  while IFS='|' read -r args want word; do
    eval "set -- $args"
    expect_rc "$want" "$L" "$@"
    if [ "$want" = 0 ]; then grep -qi -- "$word" out.txt || fail "$args: no '$word' in: $(cat out.txt)"
    else
      [ "$(wc -l < err.txt)" -le 2 ] || fail "$args: more than a line and a pointer: $(cat err.txt)"
      grep -qi -- "$word" err.txt || fail "$args: no '$word' in: $(cat err.txt)"
      grep -q -- "--help" err.txt || fail "$args: no pointer to --help: $(cat err.txt)"
    fi
  done <<'ROWS'
--help|0|Usage: lumisafe
-h|0|Usage: lumisafe
pack --help|0|--iterations
unpack -h|0|--password-file
verify --help|0|--password
frob x|1|unknown command 'frob'
pack a.txt --frobnicate|1|--frobnicate
pack|1|input
pack a.txt --store --lookahead|1|excludes
pack a.txt --classic --iterations 5000|1|excludes
pack a.txt --iterations 10|1|iterations
pack a.txt --self-delete sometimes|1|self-delete
pack a.txt --serial 123456789|1|serial
ROWS
  # --option=value and -- before a name that looks like an option
  printf 'dash' > ./-odd.txt
  expect_rc 0 "$L" pack --stub=stub.bin --password-file=pw --iterations=1000 -o odd.exe -- -odd.txt
  mkdir out
  expect_rc 0 "$L" unpack --password-file=pw --output=out -- odd.exe
  [ "$(cat out/-odd.txt)" = dash ] || fail "-- and --option=value"
  # A name as long as the file system allows (the temporary names are short).
  long=$(printf 'n%.0s' $(seq 1 240)).txt
  printf 'long' > "$long"
  expect_rc 0 "$L" pack "$long" --stub stub.bin --password-file pw --iterations 1000 -o long.exe
  expect_rc 0 "$L" unpack long.exe -o out --password-file pw
  [ "$(cat "out/$long")" = long ] || fail "a 244-byte name"
  no_leftovers . out
  # Never replace the input, with or without --force, however it is spelled.
  expect_rc 1 "$L" pack a.txt --stub stub.bin --password-file pw -o ./a.txt --force
  [ "$(cat a.txt)" = one ] || fail "pack replaced its input"
  printf 'me' > me.exe
  mkdir -p box; expect_rc 0 "$L" pack me.exe --stub stub.bin --password-file pw --iterations 1000 -o box
  cp box/me.exe me.exe
  expect_rc 1 "$L" unpack me.exe --password-file pw --force      # its stored name is its own name
  cmp -s box/me.exe me.exe || fail "unpack replaced its input"
  # Warnings at pack time: a name Windows changes, a caption that is cut.
  printf 'x' > 'a:b?.txt'
  expect_rc 0 "$L" pack 'a:b?.txt' --stub stub.bin --password-file pw --iterations 1000 -o w.exe
  grep -q "warning: Windows cannot use the name 'a:b?.txt'" err.txt || fail "no name warning: $(cat err.txt)"
  expect_rc 0 "$L" pack a.txt --stub stub.bin --password-file pw --iterations 1000 -o c.exe --force \
    --caption "$(printf 'c%.0s' $(seq 1 230))"
  grep -q 'warning: the caption is 230 bytes long; it is cut to 206 bytes' err.txt || fail "no caption warning: $(cat err.txt)"
  # info: flags in words, a folder refused plainly, "1 byte"
  expect_rc 0 "$L" info c.exe
  grep -q 'self-delete        off' out.txt || fail "info flags: $(cat out.txt)"
  expect_rc 4 "$L" info out;  grep -q 'is a folder' err.txt || fail "info on a folder: $(cat err.txt)"
  expect_rc 0 "$L" unpack w.exe -o out --password-file pw; grep -q ': 1 byte$' err.txt || fail "plural: $(cat err.txt)"
  # JSON: ISO 8601 UTC times and attribute names beside the raw values
  touch -d '2003-04-05 06:07:08.1234567 UTC' a.txt; chmod 444 a.txt
  expect_rc 0 "$L" pack a.txt --stub stub.bin --password-file pw --iterations 1000 -o t.exe
  rm -rf out; mkdir out
  expect_rc 0 "$L" unpack t.exe -o out --password-file pw --json
  grep -q '"lastWriteTimeUtc":"2003-04-05T06:07:08.1234567Z"' out.txt || fail "ISO time: $(cat out.txt)"
  grep -q '"attributes":33,' out.txt && grep -q '"attributeNames":\["readOnly","archive"\]' out.txt || fail "attributes: $(cat out.txt)"
  # verify: what the sum covers; with a password, a whole test decode
  expect_rc 0 "$L" verify t.exe; grep -q 'does not cover the caption and the flags' out.txt || fail "verify: $(cat out.txt)"
  expect_rc 0 "$L" verify t.exe --password-file pw; grep -q 'decodes whole' out.txt || fail "verify -p: $(cat out.txt)"
  printf 'nope' > wrong; expect_rc 2 "$L" verify t.exe --password-file wrong
  expect_rc 0 "$L" pack a.txt --stub stub.bin --password-file pw -o k.exe --classic --force
  size=$(stat -c %s k.exe)
  cp k.exe kc.exe; printf '\x01' | dd of=kc.exe bs=1 seek=$((1024 + 33)) conv=notrunc 2>/dev/null
  expect_rc 0 "$L" verify kc.exe   # the sum does not see a classic file's caption...
  grep -q 'does not cover the caption' out.txt || fail "verify must say what it does not cover"
  cp t.exe tc.exe; printf '\x01' | dd of=tc.exe bs=1 seek=$((1024 + 33)) conv=notrunc 2>/dev/null
  expect_rc 3 "$L" verify tc.exe --password-file pw   # ...a sealed file's checks do
  ;;
secrets)  # no copy of the password in the process's memory; none in a message; no core file
  command -v gdb >/dev/null || fail "gdb is missing (scripts/setup installs it)"
  # Under AddressSanitizer the memory is terabytes of shadow and freed blocks
  # are kept poisoned, not reused: the plain build's core is the one to search.
  sanitized=no; grep -q -a __asan_init "$L" && sanitized=yes
  seq 1 20000 > m.txt
  marker='Mk7-q9ZtWv3pX2rLj'   # a password that appears nowhere else
  printf '%s\n' "$marker" > mpw
  expect_rc 0 "$L" pack m.txt --stub stub.bin --password-file mpw --iterations 1000 -o s.exe
  expect_rc 0 "$L" pack m.txt --stub stub.bin --password-file mpw --classic -o c.exe
  # The whole memory as the process ends (exit_group: after every
  # destructor), taken by a debugger as a core dump would be.
  for args in "unpack s.exe -o out-s.txt" "verify s.exe" "unpack c.exe -o out-c.txt" "verify c.exe" "pack m.txt -o p.exe --iterations 1000 --stub stub.bin"; do
    [ "$sanitized" = yes ] && { "$L" $args --password-file mpw >/dev/null 2>&1 || fail "$args"; continue; }
    rm -f core.*
    gdb -q -batch -ex 'catch syscall exit_group' -ex run -ex 'gcore core.dump' \
      --args "$L" $args --password-file mpw >gdb.txt 2>&1
    [ -s core.dump ] || fail "no core taken for '$args': $(tail -3 gdb.txt)"
    ! grep -q -a -- "${marker:3:10}" core.dump || fail "'$args' left a copy of the password in memory"
  done
  cmp -s m.txt out-s.txt && cmp -s m.txt out-c.txt || fail "the decodes under the debugger failed"
  # While the password is held, no core file: the limit is 0 (watched while
  # the tool waits to read a password from a pipe).
  mkfifo slow
  "$L" verify s.exe --password-file slow >/dev/null 2>&1 & pid=$!
  for _ in $(seq 50); do grep -q 'Max core file size *0 *0' /proc/$pid/limits 2>/dev/null && break; sleep 0.1; done
  grep -q 'Max core file size *0 *0' /proc/$pid/limits || fail "core files not turned off: $(grep core /proc/$pid/limits)"
  printf '%s\n' "$marker" > slow; wait $pid || fail "verify through a pipe"
  # A password given on the command line is never repeated in a message.
  for args in "verify s.exe --password=$marker" "verify s.exe --password $marker" "pack m.txt --password $marker" \
              "unpack s.exe --password=$marker"; do
    "$L" $args >out.txt 2>err.txt && fail "'$args' was accepted"
    ! grep -q -- "$marker" out.txt err.txt || fail "'$args' repeated the password: $(cat err.txt)"
  done
  ;;
limits)  # the format's limits are checked before the work they would cost
  seq 1 1000 > t.txt
  expect_rc 0 "$L" pack t.txt --stub stub.bin --password-file pw --iterations 1000 -o s.exe
  # 3 GiB with a real marker near its start (sparse): refused from its size,
  # before any reading, with far less memory than the file (a whole read
  # would take gigabytes and many seconds).
  cp s.exe huge.exe; truncate -s 3G huge.exe
  for cmd in "info huge.exe" "verify huge.exe" "verify huge.exe --password-file pw" "unpack huge.exe --password-file pw -o out"; do
    /usr/bin/time -f %M -o rss.txt "$L" $cmd >out.txt 2>err.txt; rc=$?
    [ "$rc" = 4 ] || fail "'$cmd' -> exit $rc: $(cat err.txt)"
    grep -q 'larger than 2 GiB' err.txt || fail "'$cmd': $(cat err.txt)"
    [ "$(tail -1 rss.txt)" -lt 300000 ] || fail "'$cmd' took $(tail -1 rss.txt) KiB of memory to refuse the file"
  done
  # Something with no size (a device) is read no further than the limit.
  expect_rc 4 "$L" info /dev/zero
  # More key-derivation rounds than 10 times the default: refused before any
  # derivation (4e9 rounds would take hours), as a later version's file.
  p=$((1024 + 256))
  for rounds in 10000001 4000000000; do
    cp s.exe r.exe
    python3 -c 'import struct,sys; f=open(sys.argv[1],"r+b"); f.seek(int(sys.argv[2])); f.write(struct.pack("<I",int(sys.argv[3])))' r.exe $((p + 8)) $rounds
    expect_rc 7 "$L" unpack r.exe -o out --password-file pw
    grep -q "newer version of lumisafe, or damaged: it asks for $rounds key-derivation rounds" err.txt || fail "rounds: $(cat err.txt)"
    expect_rc 3 "$L" info r.exe   # the sum sees the change too
    grep -q "it asks for $rounds key-derivation rounds" out.txt || fail "info on rounds: $(cat out.txt)"
  done
  expect_rc 1 "$L" pack t.txt --stub stub.bin --password-file pw --iterations 10000001 -o x.exe
  # A sealed payload behind a form byte set to classic is a changed file.
  cp s.exe f.exe; printf '\x00' | dd of=f.exe bs=1 seek=$((1024 + 24)) conv=notrunc 2>/dev/null
  expect_rc 3 "$L" unpack f.exe -o out --password-file pw --force
  grep -q 'payload is sealed, but the marker block says' err.txt || fail "form byte: $(cat err.txt)"
  # An option before the command is named as what it is.
  expect_rc 1 "$L" --bogus
  grep -q "unknown option '--bogus'" err.txt || fail "unknown option: $(cat err.txt)"
  ;;
program_part)  # the program part, what receives the password on Windows, is named
  seq 1 2000 > t.txt
  "$L" pack t.txt --password-file pw --iterations 1000 -o k.exe >/dev/null 2>err.txt || {
    grep -q 'no decoder stub found' err.txt && { echo "skipped: no decoder stub built (build the win32 preset)"; exit 77; }
    fail "pack: $(cat err.txt)"; }
  marker=$("$L" info --json k.exe | python3 -c 'import json,sys; print(json.load(sys.stdin)["markerOffset"])')
  # Rewrites the file's integrity sum as anyone can: sixteen byte lanes over
  # the stub and the payload but its last P mod 16 bytes.
  resum() {
    python3 - "$1" "$marker" <<'PY'
import sys
path, m = sys.argv[1], int(sys.argv[2])
d = bytearray(open(path, "rb").read())
payload = d[m + 256:]
data = d[:m] + payload[:len(payload) - len(payload) % 16]
d[m + 239:m + 255] = bytes(sum(data[i::16]) & 0xFF for i in range(16))
open(path, "wb").write(d)
PY
  }
  cp k.exe same.exe; resum same.exe; cmp -s k.exe same.exe || fail "the sum is not what this test computes"
  expect_rc 0 "$L" info k.exe
  grep -q '^program part       known: the decoder stub of this lumisafe' out.txt || fail "own stub: $(cat out.txt)"
  [ ! -s err.txt ] || fail "a warning for a known stub: $(cat err.txt)"
  # what offset known? resum?: a changed instruction is another program; the
  # header's CheckSum, which signing rewrites, is part of neither the identity
  # nor the sum.
  pe=$(od -An -tu4 -j 60 -N 4 k.exe | tr -d ' ')
  while read -r what offset want sum; do
    cp k.exe x.exe
    printf '\x5a' | dd of=x.exe bs=1 seek="$offset" conv=notrunc 2>/dev/null
    [ "$sum" = resum ] && resum x.exe
    expect_rc 0 "$L" verify x.exe --password-file pw --json
    python3 -c 'import json,sys; j=json.load(open("out.txt")); sys.exit(0 if j["programPart"]["known"] == (sys.argv[1] == "yes") else 1)' "$want" \
      || fail "$what: $(cat out.txt)"
    if [ "$want" = no ]; then
      grep -q 'receives the password' out.txt err.txt || fail "$what: no warning: $(cat err.txt)"
      expect_rc 0 "$L" info x.exe; grep -q 'UNKNOWN program' out.txt || fail "$what: info: $(cat out.txt)"
      grep -q 'not a decoder stub lumisafe knows' err.txt || fail "$what: info warns: $(cat err.txt)"
      expect_rc 0 "$L" unpack x.exe -o out.json.txt --password-file pw --json
      grep -q '"known":false' out.txt || fail "$what: unpack --json: $(cat out.txt)"
    fi
  done <<ROWS
code 2048 no resum
checksum $((pe + 24 + 64)) yes as-is
ROWS
  ;;
signed)  # an Authenticode signature after the payload: the file keeps working, and nothing else may follow
  command -v osslsigncode >/dev/null || fail "osslsigncode is missing (scripts/setup installs it)"
  seq 1 20000 > t.txt; head -c 50000 /dev/urandom > r.bin
  "$L" pack t.txt --password-file pw --iterations 1000 -o probe.exe >/dev/null 2>err.txt || {
    grep -q 'no decoder stub found' err.txt && { echo "skipped: no decoder stub built (build the win32 preset)"; exit 77; }
    fail "pack: $(cat err.txt)"; }
  openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 -subj '/CN=lumisafe test' \
    >/dev/null 2>&1 || fail "openssl req"
  sign() { rm -f "$2"; osslsigncode sign -certs cert.pem -key key.pem -n lumisafe-test -in "$1" -out "$2" >sign.txt 2>&1 \
    || fail "osslsigncode sign $1: $(cat sign.txt)"; }
  # form input | every command works on the signed file as on the unsigned
  while read -r form input; do
    opt=(--iterations 1000); [ "$form" = classic ] && opt=(--classic)
    expect_rc 0 "$L" pack "$input" --password-file pw -o u.exe --force "${opt[@]}"
    sign u.exe s.exe
    osslsigncode verify -CAfile cert.pem -in s.exe 2>&1 | grep -q 'Signature verification: ok' || fail "$form $input: osslsigncode verify"
    expect_rc 0 "$L" info s.exe
    grep -q '^signature          an Authenticode certificate table of' out.txt || fail "$form: info: $(cat out.txt)"
    expect_rc 0 "$L" info s.exe --json
    grep -q '"signature":{"present":true,"size":[0-9]*,"checked":false' out.txt || fail "$form: info --json: $(cat out.txt)"
    expect_rc 0 "$L" verify s.exe --password-file pw
    grep -q 'osslsigncode verify' out.txt || fail "$form: verify names no checker: $(cat out.txt)"
    rm -rf o1 o2; mkdir o1 o2
    expect_rc 0 "$L" unpack u.exe -o o1 --password-file pw
    expect_rc 0 "$L" unpack s.exe -o o2 --password-file pw
    cmp -s "$input" "o2/$input" && cmp -s "o1/$input" "o2/$input" || fail "$form $input: other contents"
    # Signed again over the signature, and the signature removed: both open.
    sign s.exe s2.exe
    expect_rc 0 "$L" verify s2.exe --password-file pw
    rm -f plain.exe; osslsigncode remove-signature -in s.exe -out plain.exe >/dev/null 2>&1 || fail "remove-signature"
    expect_rc 0 "$L" verify plain.exe --password-file pw
    expect_rc 0 "$L" info plain.exe --json; grep -q '"signature":{"present":false}' out.txt || fail "removed: $(cat out.txt)"
  done <<ROWS
sealed t.txt
sealed r.bin
classic t.txt
classic r.bin
ROWS
  # A signed sealed file made hostile, a way at a time: each is a changed
  # file (exit 3), nothing is written, nothing is read out of bounds.
  expect_rc 0 "$L" pack t.txt --password-file pw -o u.exe --force --iterations 1000; sign u.exe s.exe
  python3 - s.exe <<'PY' > rows.txt
import struct, sys
d = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", d, 60)[0]
entry = pe + 24 + 96 + 4 * 8          # PE32: the certificate-table entry
off, size = struct.unpack_from("<II", d, entry)
m = d.find(b"\\decode\\self\\\0")
stated = struct.unpack_from("<I", d, m + 28)[0]
end = m + 256 + stated
rows = [("into the stub", entry, struct.pack("<II", 512, len(d) - 512)),
        ("into the payload", entry, struct.pack("<II", (end - 64) // 8 * 8, len(d) - (end - 64) // 8 * 8)),
        ("past the end", entry, struct.pack("<II", off, size + 8)),
        ("short of the end", entry, struct.pack("<II", off, size - 8)),
        ("the stated length", m + 28, struct.pack("<I", stated + 8))]
if off > end:
    rows.append(("padding not zero", end, b"\x01"))
for what, at, data in rows:
    print(f"{what}|{at}|{data.hex()}")
print(f"bytes after the table|{len(d)}|00")
PY
  while IFS='|' read -r what at hex; do
    cp s.exe h.exe
    python3 -c 'import sys; f=open(sys.argv[1],"r+b"); f.seek(int(sys.argv[2])); f.write(bytes.fromhex(sys.argv[3]))' h.exe "$at" "$hex"
    rm -rf out; mkdir out
    expect_rc 3 "$L" unpack h.exe -o out --password-file pw
    [ -z "$(ls -A out)" ] || fail "$what: something was written"
    expect_rc 3 "$L" info h.exe
  done < rows.txt
  # An older file (no stated length) cannot carry a signature.
  cp s.exe old.exe
  python3 -c 'import sys; p=sys.argv[1]; d=bytearray(open(p,"rb").read()); m=d.find(b"\\decode\\self\\\0"); d[m+28:m+32]=bytes(4); open(p,"wb").write(d)' old.exe
  expect_rc 3 "$L" info old.exe
  ;;
*)
  fail "unknown case $case_name"
  ;;
esac
echo "ok: $case_name"
