# Sourced by the scripts that run the decoder stub under Wine: a private
# prefix per language, a display of its own, and helpers for the driver.
#   wine_env_start WORKDIR LANG [VARIANT]   (LANG: en or ja); needs fail() and $WDRIVE
# Cases run side by side, each in a slot of its own: CTest hands out the
# "wine" resource (tests/win32/wine-slots.json), and a case without one takes
# slot 0. A slot has its own prefixes (one per language, and one per VARIANT
# for a case that changes the prefix for good) and its own part of WORKDIR,
# which becomes $work. A new prefix is a copy of one made once per language
# and build tree: making one costs a minute under emulation.
#
# Waits are multiplied by LUMISAFE_TIME_SCALE (set by scripts/win32-vm, where
# everything runs several times slower); wdrive scales its own.
time_scale=${LUMISAFE_TIME_SCALE:-1}

wine_env_start() {
  local base="$1" lang="$2" variant="${3:-}"
  command -v wine >/dev/null && command -v Xvfb >/dev/null || fail "Wine or Xvfb missing: run scripts/setup"
  local slot=0
  if [[ "${CTEST_RESOURCE_GROUP_0_WINE:-}" =~ id:([0-9]+) ]]; then slot=${BASH_REMATCH[1]}; fi
  local home; home="$(dirname "$base")/wine"
  mkdir -p "$home"
  # One case at a time in a slot, whoever started it. The lock is inherited
  # by what the case starts, so it lasts until its last process has ended.
  exec {slot_lock}>"$home/slot$slot.lock"
  flock "$slot_lock"
  work="$base/slot$slot"
  mkdir -p "$work"
  export WINEPREFIX="$home/slot$slot/prefix-$lang${variant:+-$variant}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset LANG LANGUAGE
  if [ "$lang" = ja ]; then export LC_ALL=ja_JP.UTF-8; else export LC_ALL=C.UTF-8; fi
  [ -f "$WINEPREFIX/system.reg" ] || wine_prefix_copy "$home/template-$lang"

  # One display for this run; Xvfb picks a free number.
  exec {dfd}<> <(:)
  Xvfb -displayfd "$dfd" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  local display
  read -r -t $((10 * time_scale)) -u "$dfd" display || fail "Xvfb did not start"
  export DISPLAY=":$display"
  trap wine_env_stop EXIT

  wineserver -k >/dev/null 2>&1 || true   # nothing left over from an earlier run
  c="$WINEPREFIX/drive_c"
  temp=$(echo "$c"/users/*/Temp)
  [ -d "$temp" ] || fail "no temporary directory in the prefix"
  # A slot serves every script's cases: each starts with C: and the
  # temporary folder as a new prefix has them, whatever the case before left.
  find "$c" -mindepth 1 -maxdepth 1 ! -name windows ! -name users ! -name ProgramData \
    ! -name 'Program Files' ! -name 'Program Files (x86)' -exec rm -rf {} +
  find "$temp" -mindepth 1 -maxdepth 1 -exec rm -rf {} +
  cd "$c" || fail "no drive C:"   # the current drive is C:
}

# Makes $WINEPREFIX a copy of TEMPLATE, which is made first when missing, in
# the language of the mode (a prefix made in one language draws message
# boxes of the other as boxes in screenshots).
wine_prefix_copy() { # TEMPLATE
  local template="$1"
  ( flock 9
    if [ ! -f "$template/system.reg" ]; then
      rm -rf "$template"
      WINEPREFIX="$template" wineboot -i >/dev/null 2>&1
      # The registry is on disk only when the server has ended.
      WINEPREFIX="$template" timeout $((120 * time_scale)) wineserver -w
    fi
  ) 9>"$template.lock"
  [ -f "$template/system.reg" ] || fail "could not make a Wine prefix ($template)"
  rm -rf "$WINEPREFIX" "$WINEPREFIX.new"
  mkdir -p "$(dirname "$WINEPREFIX")"
  cp -a "$template" "$WINEPREFIX.new" && mv "$WINEPREFIX.new" "$WINEPREFIX" || fail "could not copy the Wine prefix"
}

# Waits up to SECONDS (scaled) for every process of the prefix to end.
wine_wait() { # [SECONDS]
  timeout $(( ${1:-60} * time_scale )) wineserver -w
}

wine_env_stop() {
  wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
}

# Text as the stub holds it (code page 932 covers ASCII too), in hex.
hexof() { printf '%s' "$1" | iconv -f UTF-8 -t CP932 | od -An -tx1 -v | tr -d ' \n' | tr a-f A-F; }
wd() { wine "$WDRIVE" "$@" | tr -d '\r'; }

# Starts a self-decoding file and waits for its password dialog; sets $dlg and $sfx_pid.
start_dialog() { # WINPATH CAPTION
  wine "$1" &
  sfx_pid=$!
  dlg=$(wd dialog "$(hexof "$2")" 20000)
  [ "$dlg" != timeout ] || fail "no password dialog with caption $2"
}

cancel_dialog() { # closes the password dialog and waits until it is gone
  wd command "$dlg" 2 >/dev/null
  wd gone "$dlg" 20000 || fail "the password dialog did not close"
  wait "$sfx_pid"
}

type_and_ok() { # PASSWORD
  wd settext "$dlg" 1000 "$(hexof "$1")" || fail "cannot type the password"
  wd click "$dlg" 1 >/dev/null
}

# Waits for the encoder information dialog: sets $info and $info_hex (its text).
info_text() {
  info=$(wd dialog "$(hexof 'Serial Information')" 20000)
  [ "$info" != timeout ] || fail "no encoder information dialog"
  info_hex=$(wd text "$info" 1004)
}
