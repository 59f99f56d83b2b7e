# Shared by scripts/test, scripts/run and scripts/screenshot: a private Wine prefix per build
# folder and an Xvfb display when none is there. Source it; it defines functions only.

KV_ROOT=${KV_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
KV_WIN_BUILD=${KV_WIN_BUILD:-$KV_ROOT/build/windows}

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

# Sets the display's DPI the prefix reports (LogPixels: 96 is 100 %, 144 is 150 %, 192 is
# 200 %). Wine has read it from either key over its versions, and its desktop takes it when it
# starts: the prefix's processes are ended, and what starts next sees the new DPI.
kv_wine_dpi() {
  local dpi=$1
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
    >/dev/null 2>&1 </dev/null || true
  wine reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
    /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1 </dev/null || true
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
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
    # Room for the largest window at 200 % (the policy dialog, 1440 x 840).
    Xvfb :$n -screen 0 "${KV_SCREEN:-2048x1536x24}" -nolisten tcp >/dev/null 2>&1 &
    # Sets the display's DPI the prefix reports (LogPixels: 96 is 100 %, 144 is 150 %, 192 is
# 200 %). Wine has read it from either key over its versions, and its desktop takes it when it
# starts: the prefix's processes are ended, and what starts next sees the new DPI.
kv_wine_dpi() {
  local dpi=$1
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
    >/dev/null 2>&1 </dev/null || true
  wine reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
    /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1 </dev/null || true
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
}

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
