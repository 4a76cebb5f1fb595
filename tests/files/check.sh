#!/usr/bin/env bash
# Unpacks every known file and compares exit code, content digest and header
# fields with expected.txt.   check.sh LUMISAFE [valgrind]
set -uo pipefail
L="$1"; mode="${2:-plain}"
here="$(cd "$(dirname "$0")" && pwd)"
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
run=("$L")
if [ "$mode" = valgrind ]; then
  command -v valgrind >/dev/null || { echo "valgrind missing: run scripts/setup" >&2; exit 1; }
  run=(valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite "$L")
fi
failed=0; count=0
while IFS='|' read -r name pw code digest json; do
  count=$((count + 1))
  printf '%s' "$pw" > "$tmp/pw"
  rm -f "$tmp/out"
  "${run[@]}" unpack "$here/$name" -o "$tmp/out" --password-file "$tmp/pw" --json > "$tmp/json" 2> "$tmp/err"
  got=$?
  if [ "$got" != "$code" ]; then echo "FAIL $name: exit $got, want $code: $(cat "$tmp/err")"; failed=1; continue; fi
  if [ "$(wc -l < "$tmp/err")" -gt 1 ] && [ "$mode" != valgrind ]; then echo "FAIL $name: more than one line on stderr"; failed=1; fi
  if [ "$code" = 0 ]; then
    [ "$(sha256sum "$tmp/out" | cut -d' ' -f1)" = "$digest" ] || { echo "FAIL $name: content digest"; failed=1; }
    [ -z "$json" ] || grep -qF -- "$json" "$tmp/json" || { echo "FAIL $name: header $(cat "$tmp/json")"; failed=1; }
  else
    [ ! -e "$tmp/out" ] || { echo "FAIL $name: output left behind"; failed=1; }
  fi
done < "$here/expected.txt"
[ "$failed" = 0 ] && echo "ok: $count files ($mode)"
exit $failed
