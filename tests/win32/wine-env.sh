# Sourced by the scripts that run the decoder stub under Wine: a private
# prefix per language, a display of its own, and helpers for the driver.
#   wine_env_start WORKDIR LANG   (LANG: en or ja); needs fail() and $WDRIVE
wine_env_start() {
  local work="$1" lang="$2"
  command -v wine >/dev/null && command -v Xvfb >/dev/null || fail "Wine or Xvfb missing: run scripts/setup"
  mkdir -p "$work"
  export WINEPREFIX="$work/prefix-$lang" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset LANG LANGUAGE
  if [ "$lang" = ja ]; then export LC_ALL=ja_JP.UTF-8; else export LC_ALL=C.UTF-8; fi

  # One display for this run; Xvfb picks a free number.
  exec {dfd}<> <(:)
  Xvfb -displayfd "$dfd" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  local display
  read -r -t 10 -u "$dfd" display || fail "Xvfb did not start"
  export DISPLAY=":$display"
  trap wine_env_stop EXIT

  # The prefix, made once per language in that language.
  ( flock 9
    [ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
  ) 9>"$WINEPREFIX.lock"
  wineserver -k >/dev/null 2>&1 || true   # nothing left over from an earlier run
  c="$WINEPREFIX/drive_c"
  temp=$(echo "$c"/users/*/Temp)
  [ -d "$temp" ] || fail "no temporary directory in the prefix"
  cd "$c" || fail "no drive C:"   # the current drive is C:
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
