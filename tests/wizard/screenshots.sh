#!/bin/bash
# Pictures of the wizard's pages from a real run, as PNG files for the documentation.
#   screenshots.sh BUILD_DIR [OUTPUT_DIR]   (OUTPUT_DIR defaults to docs/screenshots)
set -u
if [ $# -lt 1 ]; then
    echo "usage: $0 BUILD_DIR [OUTPUT_DIR]" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
output=${2:-$here/../../docs/screenshots}
mkdir -p "$output" || exit 2
output=$(cd "$output" && pwd)
bitmaps=$(mktemp -d /tmp/ui-screenshots.XXXXXX)
trap 'rm -rf "$bitmaps"' EXIT

UI_SCREENSHOT_DIR="$bitmaps" "$here/run_ui_tests.sh" "$1" --gtest_filter='Screenshots.*'
result=$?
for bitmap in "$bitmaps"/*.bmp; do
    [ -e "$bitmap" ] || continue
    name=$(basename "$bitmap" .bmp)
    convert "$bitmap" "$output/$name.png" && echo "[ui] $output/$name.png"
done
exit $result
