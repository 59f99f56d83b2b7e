# Shared by scripts/test, scripts/run and scripts/screenshot: a private Wine prefix per build
# folder and an Xvfb display when none is there. Source it; it defines functions only.

KV_ROOT=${KV_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
KV_WIN_BUILD=${KV_WIN_BUILD:-$KV_ROOT/build/windows}

# Wine runs our 32-bit programs through its 32-bit loader, an i386 Linux program. Some kernels
# are built without 32-bit support (their exec answers "Exec format error"); there nothing
# under Wine can run, and only the builds can be checked.
kv_runs_32bit() {
  local loader=/usr/lib/wine/wine
  [ -x "$loader" ] || loader=$(command -v wine) || return 1
  "$loader" --version >/dev/null 2>&1
}

kv_wine_env() {
  export WINEPREFIX=$KV_WIN_BUILD/wineprefix
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
}

# Creates the prefix once and starts its server detached, so that a later command whose
# output is captured through a pipe does not wait on a server that inherited that pipe.
kv_wine_prefix() {
  kv_wine_env
  if ! kv_runs_32bit; then
    echo "wine: this machine's kernel runs no 32-bit programs (Exec format error), so Wine cannot start ours here" >&2
    return 1
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    kv_wine_fonts
  fi
  wineserver -p >/dev/null 2>&1 </dev/null &
  disown 2>/dev/null || true
  wine cmd /c exit >/dev/null 2>&1 </dev/null || true
}

# Makes the CJK font Wine's fallback for the dialog and system faces, so Chinese renders,
# and lets Wine draw window frames itself.
kv_wine_fonts() {
  local font='WenQuanYi Micro Hei' reg=$WINEPREFIX/kv-fonts.reg
  cat >"$reg" <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]
"MS Shell Dlg"="$font"
"MS Shell Dlg 2"="$font"
"Tahoma"="$font"
"SimSun"="$font"
"宋体"="$font"
"Microsoft YaHei"="$font"

; Without a window manager (Xvfb) Wine draws captions and borders itself.
[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]
"Decorated"="N"

[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]
"SimSun"="$font"
"宋体"="$font"
"Microsoft YaHei"="$font"
"微软雅黑"="$font"
REG
  wine regedit "$reg" >/dev/null 2>&1 </dev/null || true
  wineserver -w
}

KV_XVFB_PID=
kv_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local n
  for n in 91 92 93 94 95 96 97 98; do
    # A lock whose server is gone (killed, machine reused) does not hold the number.
    if [ -e /tmp/.X$n-lock ]; then
      local holder
      holder=$(tr -d ' ' </tmp/.X$n-lock 2>/dev/null)
      if [ -n "$holder" ] && kill -0 "$holder" 2>/dev/null; then continue; fi
      rm -f /tmp/.X$n-lock /tmp/.X11-unix/X$n
    fi
    [ -e /tmp/.X11-unix/X$n ] && continue
    Xvfb :$n -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    KV_XVFB_PID=$!
    export DISPLAY=:$n
    local i
    for i in $(seq 1 50); do
      xdpyinfo >/dev/null 2>&1 && return 0
      sleep 0.1
    done
  done
  echo "could not start Xvfb" >&2
  return 1
}

kv_display_stop() {
  if [ -n "$KV_XVFB_PID" ]; then kill "$KV_XVFB_PID" 2>/dev/null || true; fi
  KV_XVFB_PID=
}

kv_wine_stop() {
  kv_wine_env
  wineserver -k >/dev/null 2>&1 || true
}

# 64-bit Wine (Debian's wine64), which runs where the 32-bit loader cannot: a prefix of its own
# beside the 32-bit one, for the 64-bit module's loader-model tests.
kv_wine64() {
  export WINEPREFIX=$KV_WIN_BUILD/wineprefix64
  export WINELOADER=/usr/lib/wine/wine64
  export WINESERVER=/usr/lib/wine/wineserver64
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    "$WINELOADER" wineboot -i >/dev/null 2>&1 </dev/null || true
    "$WINESERVER" -w
  fi
  "$WINELOADER" "$@"
}
