#!/bin/bash
# Runs the wizard's UI tests under wine on a virtual display of their own, in a throw-away prefix.
#   run_ui_tests.sh BUILD_DIR [gtest arguments...]
# BUILD_DIR is a mingw x86_64 build holding tests/wizard/ui_tests.exe and wizard/Setup.exe (env
# SETUP_EXE overrides the latter). Exits with the tests' result.
set -u

if [ $# -lt 1 ]; then
    echo "usage: $0 BUILD_DIR [gtest arguments...]" >&2
    exit 2
fi
build=$(cd "$1" && pwd) || exit 2
shift
tests="$build/tests/wizard/ui_tests.exe"
if [ ! -f "$tests" ]; then
    echo "no $tests: build the ui_tests target first" >&2
    exit 2
fi
export SETUP_EXE="${SETUP_EXE:-$build/wizard/Setup.exe}"
if [ ! -f "$SETUP_EXE" ]; then
    echo "no Setup.exe at $SETUP_EXE" >&2
    exit 2
fi
wine=/usr/lib/wine/wine64
for tool in Xvfb xdpyinfo "$wine" wineserver; do
    command -v "$tool" > /dev/null || { echo "missing $tool (x11-utils gives xdpyinfo)" >&2; exit 2; }
done

xvfb_pid=
prefix=
cleanup() {
    if [ -n "$prefix" ]; then
        WINEPREFIX="$prefix" wineserver -k 2> /dev/null
        WINEPREFIX="$prefix" wineserver -w 2> /dev/null
        rm -rf "$prefix"
    fi
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2> /dev/null
        wait "$xvfb_pid" 2> /dev/null
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A display of our own: the first of :90..:99 whose server comes up and answers.
display=
for n in 90 91 92 93 94 95 96 97 98 99; do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp > /dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do
        kill -0 "$xvfb_pid" 2> /dev/null || break
        # Answering is not enough: another run may have taken the display a moment before; the lock
        # file names the server that owns it.
        if xdpyinfo -display ":$n" > /dev/null 2>&1 &&
            [ "$(tr -d ' \n' < "/tmp/.X$n-lock" 2> /dev/null)" = "$xvfb_pid" ]; then
            display=":$n"
            break
        fi
        sleep 0.1
    done
    [ -n "$display" ] && break
    kill "$xvfb_pid" 2> /dev/null
    wait "$xvfb_pid" 2> /dev/null
    xvfb_pid=
done
if [ -z "$display" ]; then
    echo "no free display among :90..:99" >&2
    exit 2
fi

prefix=$(mktemp -d /tmp/ui-tests-prefix.XXXXXX)
export DISPLAY="$display" WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all LANG=zh_TW.UTF-8
start=$(date +%s)
# wineboot's complaint about syswow64\rundll32.exe is harmless: no 32-bit code runs on this kernel.
# No .NET or HTML engine is needed; leaving them out spares their installers.
WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot -i > /dev/null 2>&1
# Windows left unmanaged: with no window manager on the display, wine would wait two seconds for one
# at every page change; unmanaged, it draws the captions itself, as the screenshots want.
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f > /dev/null 2>&1
wineserver -w
echo "[ui] display $display, prefix ready in $(( $(date +%s) - start )) s"

"$wine" "$tests" "$@"
result=$?
echo "[ui] ui_tests.exe exited with $result after $(( $(date +%s) - start )) s"
exit $result
