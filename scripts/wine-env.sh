# Sourced by the test, demo and benchmark scripts: a virtual display with a
# window manager, and a Wine prefix of our own with a persistent wineserver.
#   wine_env_start PREFIX_DIR DISPLAY_NUMBER
#   wine_env_stop

wine_env_start() {
  export WINEPREFIX="$1"
  export DISPLAY=":$2"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  rm -f "/tmp/.X$2-lock" "/tmp/.X11-unix/X$2"
  Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  WINE_ENV_XVFB=$!
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  # Without a window manager dialogs get no title bar and every close waits 2 s.
  openbox >/dev/null 2>&1 &
  WINE_ENV_WM=$!
  # A server left behind for this prefix would refuse to become persistent.
  /usr/lib/wine/wineserver64 -k >/dev/null 2>&1 || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
  fi
  /usr/lib/wine/wineserver64 -w
  # A persistent server makes each program start take a fraction of a second
  # instead of about three: without it every start brings up a new server.
  /usr/lib/wine/wineserver64 -p
  # A crashing test must fail, not wait for someone to close the crash dialog.
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
}

wine_env_stop() {
  /usr/lib/wine/wineserver64 -k >/dev/null 2>&1 || true
  if [ -n "${WINE_ENV_WM:-}" ]; then kill "$WINE_ENV_WM" 2>/dev/null || true; fi
  if [ -n "${WINE_ENV_XVFB:-}" ]; then kill "$WINE_ENV_XVFB" 2>/dev/null || true; fi
  wait 2>/dev/null || true
  return 0
}
