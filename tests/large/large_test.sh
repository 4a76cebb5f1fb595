#!/usr/bin/env bash
# Large files end to end, too slow for every run (CTest label "large",
# scripts/test --large). Each case prints its figures on one line.
#   large_test.sh LUMISAFE STUB WDRIVE WORKDIR tool|stub
#   tool: a ~1.9 GB input (half text, half random) packed and unpacked in
#         both forms: identical, with peak memory and time of each step.
#   stub: the same self-decoding files decoded by the real stub under Wine,
#         with its peak working set; then an output disk that fills up half
#         way: "Could not write", nothing left behind.
set -uo pipefail
L="$1"; STUB="$2"; WDRIVE="$3"; work="$4"; case_name="$5"
here="$(cd "$(dirname "$0")" && pwd)"
fail() { echo "FAIL (large $case_name): $*" >&2; exit 1; }
size=${LUMISAFE_LARGE_BYTES:-1900000000}
mkdir -p "$work"; cd "$work" || fail "no work folder"
printf 'large test password' > pw

make_input() { # half text, half random, in that order
  [ -f input.bin ] && [ "$(stat -c %s input.bin)" = "$size" ] && return 0
  { seq 1 400000000 | head -c $((size / 2)); head -c $((size - size / 2)) /dev/urandom; } > input.bin
}
measure() { # LABEL COMMAND... : runs it under /usr/bin/time, prints peak RSS and time
  local label="$1"; shift
  /usr/bin/time -v "$@" 2> time.txt >/dev/null; local rc=$?
  [ "$rc" = 0 ] || fail "$label: exit $rc: $(grep -v '^\s' time.txt | head -3)"
  local rss wall
  rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' time.txt)
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' time.txt)
  echo "$label: peak $((rss / 1024)) MiB, $wall"
}

case "$case_name" in
tool)
  make_input
  for form in sealed classic; do
    opt=(); [ "$form" = classic ] && opt=(--classic)
    rm -rf out "$form.exe"; mkdir out
    measure "pack $form" "$L" pack input.bin --stub "$STUB" --password-file pw -o "$form.exe" "${opt[@]}" \
      --caption '"input.bin" Decode'   # the stub case finds its dialog by this caption
    echo "  $form.exe: $(stat -c %s "$form.exe") bytes"
    measure "unpack $form" "$L" unpack "$form.exe" -o out --password-file pw
    cmp -s input.bin out/input.bin || fail "$form: the unpacked file differs"
  done
  rm -rf out
  echo "ok: large tool"
  ;;
stub)
  probe=0; why=$(bash "$here/../../scripts/win32-probe") || probe=$?
  if [ "$probe" = 1 ]; then echo "skipped: $why"; exit 77; fi
  make_input
  source "$here/../win32/wine-env.sh"
  data="$work"
  wine_env_start "$work/wine" en
  work="$data"   # the input and the packed files stay where the tool case made them
  mkdir -p "$c/big" "$c/out"
  for form in sealed classic; do
    [ -f "$work/$form.exe" ] || "$L" pack "$work/input.bin" --stub "$STUB" --password-file "$work/pw" \
      -o "$work/$form.exe" --caption '"input.bin" Decode' $([ "$form" = classic ] && echo --classic) >/dev/null 2>&1 \
      || fail "pack $form"
    ln -f "$work/$form.exe" "$c/big/$form.exe" 2>/dev/null || cp "$work/$form.exe" "$c/big/$form.exe"
    rm -f "$c/out/"*
    start=$(date +%s)
    start_dialog "C:\\big\\$form.exe" '"input.bin" Decode'
    type_and_ok "$(cat "$work/pw")"
    wd save "$(hexof '"input.bin" Decode')" "$(hexof 'C:\out\input.bin')" 600000 >/dev/null
    # The decode stage's peak working set, read from the host while it runs.
    peak=0
    while kill -0 "$sfx_pid" 2>/dev/null || pgrep -f 'DEC[0-9a-fA-F]*\.exe' >/dev/null; do
      for pid in $(pgrep -f 'DEC[0-9a-fA-F]*\.exe'); do
        hwm=$(sed -n 's/^VmHWM:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$pid/status" 2>/dev/null)
        [ -n "$hwm" ] && [ "$hwm" -gt "$peak" ] && peak=$hwm
      done
      sleep 0.5
    done
    wine_wait 120
    cmp -s "$work/input.bin" "$c/out/input.bin" || fail "$form: the stub's output differs"
    echo "stub $form: $(( $(date +%s) - start )) s, peak working set $((peak / 1024)) MiB, payload $(( $(stat -c %s "$work/$form.exe") / 1048576 )) MiB"
  done
  rm -f "$c/out/"*
  # An output disk that fills up half way.
  mnt="$work/half"; mkdir -p "$mnt"
  if ! mount -t tmpfs -o size=$((size / 2)) tmpfs "$mnt" 2>/dev/null; then echo "skipped the full disk: cannot mount"; echo "ok: large stub"; exit 0; fi
  trap 'wine_env_stop; umount "$mnt"' EXIT
  ln -sfn "$mnt" "$WINEPREFIX/dosdevices/t:"
  start_dialog 'C:\big\sealed.exe' '"input.bin" Decode'
  type_and_ok "$(cat "$work/pw")"
  wd save "$(hexof '"input.bin" Decode')" "$(hexof 'T:\input.bin')" 600000 >/dev/null
  got=$(wine "$WDRIVE" box 600000 | tr -d '\r')
  [ "${got#* }" = "$(hexof 'Could not write')" ] || fail "disk full: message $got"
  [ -z "$(ls -A "$mnt")" ] || fail "disk full: left behind: $(ls -A "$mnt")"
  wd command "$dlg" 2 >/dev/null; wait "$sfx_pid"; wine_wait 60
  echo "disk full half way: 'Could not write', nothing left"
  echo "ok: large stub"
  ;;
*) fail "unknown case $case_name" ;;
esac
