# Sourced by the test and demo scripts: a throw-away Wine prefix and, when asked, a headless display.
#   wine_start [--display]   make the prefix (and start Xvfb unless a display is given or wanted)
#   wine_run PROGRAM ARGS    run a Windows program under wine64
#   wine_stop                end wineserver and Xvfb, remove the prefix
export WINEDEBUG=-all
export WINEARCH=win64
export LANG=zh_TW.UTF-8
export LC_ALL=zh_TW.UTF-8
WINE64=${WINE64:-/usr/lib/wine/wine64}
[ -x "$WINE64" ] || WINE64=$(command -v wine64 || command -v wine)
wine_xvfb_pid=""
wine_own_prefix=""

wine_start() {
  if [ -z "${WINEPREFIX:-}" ]; then
    WINEPREFIX=$(mktemp -d /tmp/setup-wineprefix.XXXXXX)
    wine_own_prefix=$WINEPREFIX
  fi
  export WINEPREFIX
  if [ "${1:-}" = "--display" ] && [ -z "${DISPLAY:-}" ]; then
    local n
    for n in $(seq 90 140); do
      [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
      Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
      wine_xvfb_pid=$!
      export DISPLAY=":$n"
      local tries
      for tries in $(seq 1 200); do
        xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 && break
        kill -0 "$wine_xvfb_pid" 2>/dev/null || break
        sleep 0.05
      done
      if xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then
        break
      fi
      kill "$wine_xvfb_pid" 2>/dev/null || true
      wine_xvfb_pid=""
      unset DISPLAY
    done
    if [ -z "${DISPLAY:-}" ]; then
      echo "wine-env: no Xvfb display could be started" >&2
      return 1
    fi
  fi
  "$WINE64" wineboot -i >/dev/null 2>&1 || true
  wineserver -w 2>/dev/null || true
}

wine_run() {
  "$WINE64" "$@"
}

wine_stop() {
  wineserver -k 2>/dev/null || true
  if [ -n "$wine_xvfb_pid" ]; then
    kill "$wine_xvfb_pid" 2>/dev/null || true
    wait "$wine_xvfb_pid" 2>/dev/null || true
    wine_xvfb_pid=""
  fi
  if [ -n "$wine_own_prefix" ]; then
    rm -rf "$wine_own_prefix"
    wine_own_prefix=""
  fi
}
