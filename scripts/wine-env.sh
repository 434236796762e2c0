# Sourced by the test, benchmark and demo scripts: a throw-away Wine prefix and, when asked, a display.
#   wine_start [--xvfb | --display]   make the prefix; --xvfb starts a headless display of our own,
#                                     --display uses $DISPLAY when there is one and Xvfb otherwise
#   wine_run PROGRAM ARGS...          run a Windows program under wine64
#   wine_stop                         end wineserver and Xvfb, remove the prefix
export WINEDEBUG=-all
export WINEARCH=win64
export LANG=zh_TW.UTF-8
export LC_ALL=zh_TW.UTF-8
WINE64=${WINE64:-/usr/lib/wine/wine64}
[ -x "$WINE64" ] || WINE64=$(command -v wine64 || command -v wine)
wine_xvfb_pid=""
wine_own_prefix=""

# The first display of :90..:140 whose server comes up and answers. Answering is not enough: another
# run may have taken the display a moment before; the lock file names the server that owns it.
wine_start_xvfb() {
  local n tries
  for n in $(seq 90 140); do
    { [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ]; } && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    wine_xvfb_pid=$!
    for tries in $(seq 1 200); do
      kill -0 "$wine_xvfb_pid" 2>/dev/null || break
      if xdpyinfo -display ":$n" >/dev/null 2>&1 &&
        [ "$(tr -d ' \n' <"/tmp/.X$n-lock" 2>/dev/null)" = "$wine_xvfb_pid" ]; then
        export DISPLAY=":$n"
        return 0
      fi
      sleep 0.05
    done
    kill "$wine_xvfb_pid" 2>/dev/null || true
    wait "$wine_xvfb_pid" 2>/dev/null || true
    wine_xvfb_pid=""
  done
  echo "wine-env: no Xvfb display could be started" >&2
  return 1
}

wine_start() {
  case "${1:-}" in
    --xvfb) wine_start_xvfb || return 1 ;;
    --display) [ -n "${DISPLAY:-}" ] || wine_start_xvfb || return 1 ;;
  esac
  if [ -z "${WINEPREFIX:-}" ]; then
    WINEPREFIX=$(mktemp -d /tmp/setup-wineprefix.XXXXXX)
    wine_own_prefix=$WINEPREFIX
  fi
  export WINEPREFIX
  # wineboot's complaint about syswow64\rundll32.exe is harmless: this kernel runs no 32-bit code.
  # No .NET or HTML engine is needed; leaving them out spares their installers.
  WINEDLLOVERRIDES="mscoree,mshtml=" "$WINE64" wineboot -i >/dev/null 2>&1 || true
  # Windows left unmanaged: with no window manager on a headless display, wine would wait two seconds
  # for one at every page change; unmanaged, it draws the captions itself, as the screenshots want.
  if [ -n "$wine_xvfb_pid" ]; then
    "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
  fi
  wineserver -w 2>/dev/null || true
}

wine_run() {
  "$WINE64" "$@"
}

wine_stop() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  if [ -n "$wine_xvfb_pid" ]; then
    kill "$wine_xvfb_pid" 2>/dev/null || true
    wait "$wine_xvfb_pid" 2>/dev/null || true
    wine_xvfb_pid=""
  fi
  if [ -n "$wine_own_prefix" ]; then
    rm -rf "$wine_own_prefix"
    wine_own_prefix=""
    unset WINEPREFIX
  fi
}
