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

. "$(dirname "$0")/../../scripts/wine-env.sh"
trap wine_stop EXIT
trap 'exit 130' INT TERM
start=$(date +%s)
unset WINEPREFIX
wine_start --xvfb || exit 2
echo "[ui] display $DISPLAY, prefix ready in $(( $(date +%s) - start )) s"

wine_run "$tests" "$@"
result=$?
echo "[ui] ui_tests.exe exited with $result after $(( $(date +%s) - start )) s"
exit $result
