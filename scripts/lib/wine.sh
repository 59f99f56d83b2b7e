# Shared by scripts/test, scripts/run and scripts/screenshot: a private Wine prefix per build
# folder and an Xvfb display when none is there. Source it; it defines functions only.

KV_ROOT=${KV_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
KV_WIN_BUILD=${KV_WIN_BUILD:-$KV_ROOT/build/windows}

# Wine runs our 32-bit programs through its 32-bit loader, an i386 Linux program. Some kernels
# are built without 32-bit support (their exec answers "Exec format error"); there none of our
# 32-bit programs can run under Wine.
# Without the 32-bit Wine layer (wine32:i386, which a mirror caught mid-sync may not serve) there
# is no such loader at all; `wine` then falls back to the 64-bit one, which runs none of ours.
kv_runs_32bit() {
  local loader=/usr/lib/wine/wine
  [ -x "$loader" ] || return 1
  "$loader" --version >/dev/null 2>&1
}

# Why kv_runs_32bit said no, in words for the gate's summary.
kv_no_32bit_reason() {
  if [ -x /usr/lib/wine/wine ]; then
    echo "this machine's kernel runs no 32-bit programs (Exec format error)"
  else
    echo "the 32-bit Wine layer (wine32:i386) is not installed (the bootstrap could not get it; run scripts/test again later)"
  fi
}

# There the same sources are built for x86-64 too (the windows64 preset, build/windows64) and
# run by Wine's 64-bit loader in a 64-bit prefix: `kv_use_wine64` before anything below. The
# product stays 32-bit; this only lets its tests run on such a machine.
KV_WINE64=${KV_WINE64:-0}
kv_runs_64bit() {
  [ -x /usr/lib/wine/wine64 ] && /usr/lib/wine/wine64 --version >/dev/null 2>&1
}

kv_use_wine64() {
  KV_WINE64=1
  KV_WIN_BUILD=$KV_ROOT/build/windows64
}

# Debian's `wine` (and `wine-stable`, which wineboot, winepath and the other tools call) starts
# the 32-bit loader whenever it is installed, even where it cannot run; in 64-bit mode these
# two names go to the 64-bit loader instead, for us and for every program we start.
kv_wine64_path() {
  local bin=$KV_WIN_BUILD/wine64-bin name
  mkdir -p "$bin"
  for name in wine wine-stable; do
    printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$bin/$name"
    chmod +x "$bin/$name"
  done
  case ":$PATH:" in *":$bin:"*) ;; *) export PATH=$bin:$PATH ;; esac
}

kv_wine_env() {
  if [ "$KV_WINE64" = 1 ]; then
    export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
    kv_wine64_path
  fi
  # KV_WINEPREFIX_NAME gives a run a prefix of its own beside the build's usual one (the gate's
  # signing checks run while the end-to-end shards use theirs).
  export WINEPREFIX=$KV_WIN_BUILD/${KV_WINEPREFIX_NAME:-wineprefix}
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
}

# Runs a command with none of the caller's descriptors beyond 0-2. The persistent server and
# the prefix's services outlive the command that started them: had they kept its descriptors,
# a lock taken with flock(1) around that command (the shared build lock) would stay held for
# as long as the server runs.
kv_without_descriptors() {
  (
    local fd
    for fd in /proc/$BASHPID/fd/*; do
      fd=${fd##*/}
      [ "$fd" -gt 2 ] 2>/dev/null && eval "exec $fd>&-" 2>/dev/null
    done
    exec "$@"
  )
}

# Creates the prefix once and starts its server detached, so that a later command whose
# output is captured through a pipe does not wait on a server that inherited that pipe.
kv_wine_prefix() {
  kv_wine_env
  if [ "$KV_WINE64" != 1 ] && ! kv_runs_32bit; then
    echo "wine: $(kv_no_32bit_reason), so Wine cannot start ours here; the windows64 build runs under 64-bit Wine (kv_use_wine64)" >&2
    return 1
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    # A 64-bit prefix fails to set up its 32-bit half here; what matters is that it starts.
    kv_without_descriptors wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "wine: could not create the prefix $WINEPREFIX" >&2
      return 1
    fi
    kv_wine_fonts
  fi
  kv_without_descriptors wineserver -p >/dev/null 2>&1 </dev/null &
  disown 2>/dev/null || true
  kv_without_descriptors wine cmd /c exit >/dev/null 2>&1 </dev/null || true
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
  kv_without_descriptors wine regedit "$reg" >/dev/null 2>&1 </dev/null || true
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
