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

# The drives the scenarios need, named to the tests through the environment (a test whose drive is
# missing skips itself):
#   D:  a CD-ROM drive on the folder UI_CDROM_DIR; a test lays a disc out in it and changes the disc
#       by renaming folders beside it (UI_CDROM_DIR is <dir>/current)
#   T:  UI_SMALL_DRIVE, a 64 MiB file system: too little room for the voice pack
#   F:  UI_FILL_DRIVE, a 1300 MiB file system that a test can fill up while the copy runs
# The two file systems are tmpfs mounts, which need root; without it their tests are skipped.
scratch=$(mktemp -d /tmp/ui-tests-drives.XXXXXX)
mounts=()
cleanup_drives() {
    local mount
    for mount in "${mounts[@]}"; do
        umount "$mount" 2>/dev/null || umount -l "$mount" 2>/dev/null
    done
    rm -rf "$scratch"
}
trap 'wine_stop; cleanup_drives' EXIT
mkdir -p "$scratch/cd/current"
ln -sfn "$scratch/cd/current" "$WINEPREFIX/dosdevices/d:"
wine_run reg add 'HKLM\Software\Wine\Drives' /v d: /d cdrom /f >/dev/null 2>&1
export UI_CDROM_DIR="$scratch/cd/current"
if [ "$(id -u)" -eq 0 ]; then
    for drive in t:64M f:1300M; do
        letter=${drive%%:*}
        mkdir -p "$scratch/$letter"
        if mount -t tmpfs -o size="${drive#*:}" "setup-ui-$letter" "$scratch/$letter" 2>/dev/null; then
            mounts+=("$scratch/$letter")
            ln -sfn "$scratch/$letter" "$WINEPREFIX/dosdevices/$letter:"
        fi
    done
    [ -d "$WINEPREFIX/dosdevices/t:" ] && export UI_SMALL_DRIVE="T:"
    [ -d "$WINEPREFIX/dosdevices/f:" ] && export UI_FILL_DRIVE="F:" UI_FILL_DIR="$scratch/f"
fi
wineserver -w
echo "[ui] display $DISPLAY, prefix ready in $(( $(date +%s) - start )) s"

wine_run "$tests" "$@"
result=$?

# What opens after a run depends on the connection Wine reports, so the post-install group runs again
# without a network: a whole Wine session of its own (wineserver and its services too, since the
# network state is read there) inside a network namespace that has no interface up.
if [ $# -eq 0 ] && [ "$(id -u)" -eq 0 ] && unshare -n true 2>/dev/null; then
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    echo "[ui] again without a network"
    UI_NETWORK=offline unshare -n "$WINE64" "$tests" --gtest_filter='PostInstall.*'
    offline=$?
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    [ $result -ne 0 ] || result=$offline
fi
echo "[ui] ui_tests.exe exited with $result after $(( $(date +%s) - start )) s"
exit $result
