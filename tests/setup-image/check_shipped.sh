#!/usr/bin/env bash
# The shipped 32-bit Setup.exe, read with objdump since this machine cannot run it: a PE32 GUI program
# that runs from swap when started from a disc, with ASLR (and its relocations) and DEP, importing
# only DLLs that Windows resolves from its own folder, and asking for the x86 common controls.
#   check_shipped.sh SETUP_EXE
set -u
exe=$1
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
headers=$("$objdump" -p "$exe") || { echo "objdump cannot read $exe"; exit 1; }
status=0
fail() { echo "$exe: $*"; status=1; }
field() { echo "$headers" | awk -v k="$1" '$1 == k {print $2; exit}'; }

echo "$headers" | grep -q '(PE32)' || fail "not a PE32 image"
[ "$(field Subsystem)" = 00000002 ] || fail "subsystem $(field Subsystem), not the Windows GUI"
characteristics=$((0x$(echo "$headers" | awk '$1 == "Characteristics" {sub("0x", "", $2); print $2; exit}')))
[ $((characteristics & 0x0400)) -ne 0 ] || fail "IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP is not set"
[ $((characteristics & 0x0001)) -eq 0 ] || fail "relocations stripped: ASLR cannot move it"
dll=$((0x$(field DllCharacteristics)))
[ $((dll & 0x0040)) -ne 0 ] || fail "no DYNAMIC_BASE (ASLR)"
[ $((dll & 0x0100)) -ne 0 ] || fail "no NX_COMPAT (DEP)"
imports=$(echo "$headers" | awk '/DLL Name:/ {print tolower($3)}' | sort -u | tr '\n' ' ')
for name in $imports; do
  case $name in
    kernel32.dll | user32.dll | gdi32.dll | shell32.dll | ole32.dll | advapi32.dll | msvcrt.dll) ;;
    *) fail "imports $name, which Windows would look for beside the program first" ;;
  esac
done
manifests=$(strings -n 8 "$exe" | grep -c 'Microsoft.Windows.Common-Controls')
[ "$manifests" -eq 1 ] || fail "$manifests common-controls dependencies in the image, not one"
strings -n 8 "$exe" | grep 'Microsoft.Windows.Common-Controls' | grep -q 'processorArchitecture="x86"' ||
  fail "the manifest does not name the x86 common controls"
[ $status -eq 0 ] && echo "$exe: PE32 GUI, run from swap, ASLR and DEP, imports $imports"
exit $status
