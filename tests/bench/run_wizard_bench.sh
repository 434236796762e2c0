#!/usr/bin/env bash
# Whole-run benchmark: Setup.exe under wine64 on a headless display, timed from Next on the ready page
# to the finish page, against, in the same run and on the same disk: the bare Win32 extraction loop
# under the same wine (the floor wine allows), the native engine, and cp -r / tar -xf. Meanwhile the
# driver pings the copy page every 50 ms and keeps the longest time it went unanswered.
# Two data sets: (a) 1.2 GiB in 60 files of 20 MiB, (b) 20,000 files of 1 to 16 KiB in 200 folders,
# each packed by discmaker onto two discs whose six volumes lie in one folder (no disc prompt).
# Every run writes into a fresh folder and is synced before the next starts, the contenders alternate,
# and the figures are medians.
#   bash tests/bench/run_wizard_bench.sh [WORKDIR] [ROUNDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=${1:-$root/build/wizard-bench-data}
rounds=${2:-3}
build=$root/build/bench
mkdir -p "$work"
work=$(cd "$work" && pwd)

cmake -S "$root" -B "$build/native" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/native" --target bench_extract discmaker -j "$(nproc)" >/dev/null
cmake -S "$root" -B "$build/win64" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" >/dev/null
cmake --build "$build/win64" --target Setup wizard_bench bare_extract -j "$(nproc)" >/dev/null
native=$build/native/tests/bench/bench_extract
discmaker=$build/native/tools/discmaker/discmaker
setup_exe=$build/win64/wizard/Setup.exe
wizard_bench=$build/win64/tests/bench/wizard/wizard_bench.exe
bare=$build/win64/tests/bench/wizard/bare_extract.exe
volumes=(data1.cab data2.cab data3.cab data4.cab data5.cab data6.cab)
winpath() { local p=$1; printf 'Z:%s' "${p//\//\\}"; }

printf 'Benchmark licence text\r\n' >"$work/eula.txt"
printf 'den' >"$work/den.dat"
printf '[Launch]\r\n' >"$work/launch.ini"
for set in large small; do
  if [ ! -f "$work/$set-medium/data6.cab" ] || [ ! -f "$work/$set-one.cab.list" ]; then
    echo "making the $set data set in $work"
    rm -rf "$work/$set-tree" "$work/$set-discs" "$work/$set-medium" "$work/$set.tar"
    "$native" make "$set" "$work/$set-tree" "$work/$set-one.cab"
    rm -f "$work/$set-one.cab"
    "$discmaker" pack --tree "$work/$set-tree" --setup "$setup_exe" --eula "$work/eula.txt" --den "$work/den.dat" \
      --launch "$work/launch.ini" --out "$work/$set-discs" --no-iso --quiet >/dev/null
    mv "$work/$set-discs/disc1" "$work/$set-medium"
    mv "$work/$set-discs"/disc2/*.cab "$work/$set-medium/"
    rm -rf "$work/$set-discs"
  fi
  cp "$setup_exe" "$work/$set-medium/Setup.exe"
done
# The reference's archive holds the files in the volumes' order (sorted by name, as discmaker packs them).
[ -f "$work/small.tar" ] || tar -cf "$work/small.tar" -C "$work/small-tree" --no-recursion -T "$work/small-one.cab.list"
sync

. "$root/scripts/wine-env.sh"
unset WINEPREFIX
wine_start --xvfb
trap wine_stop EXIT

. "$root/tests/bench/bench-lib.sh"
field() { awk -v k="$1" '{for (i = 1; i < NF; ++i) if ($i == k) print $(i + 1)}'; }
declare -A times
longest=0
run_wizard() {  # data set, output folder; prints seconds, keeps the longest unanswered ping
  local out
  out=$(wine_run "$wizard_bench" "$(winpath "$work/$1-medium/Setup.exe")" "$(winpath "$2")" 2>/dev/null | tr -d '\r')
  echo "$out" | field longest_answer_ms >>"$work/answers"
  echo "$out" | field seconds
}
run_bare() {
  wine_run "$bare" "$(winpath "$work/$1-medium")" "$(winpath "$2")" "${volumes[@]}" 2>/dev/null | tr -d '\r' | field seconds
}
run_native() {  # the engine, volume after volume, as the worker goes
  local total=0 volume s
  for volume in "${volumes[@]}"; do
    s=$("$native" extract "$work/$1-medium/$volume" "$2" | field seconds)
    total=$(awk -v a="$total" -v b="$s" 'BEGIN {print a + b}')
  done
  echo "$total"
}

rm -f "$work/answers"
stamp=$(date +%s)
for round in $(seq 1 "$rounds"); do
  for set in large small; do
    base=$work/out-$stamp-$round-$set
    if [ $((round % 2)) -eq 1 ]; then order="wizard bare native reference"; else order="bare wizard reference native"; fi
    for contender in $order; do
      t=$("run_$contender" $set "$base-$contender")
      [ -n "$t" ] || { echo "the $contender run of the $set set failed" >&2; exit 1; }
      times[$set-$contender]+="$t "
      # The next contender starts on a disk with nothing of this one's left to write back.
      sync
    done
  done
  echo "round $round done"
done
rm -rf "$work"/out-"$stamp"-*

printf '\n%-36s %10s %10s %8s %10s %10s\n' "data set (medians, seconds)" "wizard" "bare loop" "ratio" "engine" "cp / tar"
for set in large small; do
  declare -A m=()
  for contender in wizard bare native reference; do
    m[$contender]=$(echo "${times[$set-$contender]}" | tr ' ' '\n' | grep . | median)
  done
  label="(a) 1.2 GiB, 60 x 20 MiB"
  [ $set = small ] && label="(b) 20,000 x 1-16 KiB"
  printf '%-36s %10.3f %10.3f %8.2f %10.3f %10.3f\n' "$label" "${m[wizard]}" "${m[bare]}" \
    "$(awk -v a="${m[wizard]}" -v b="${m[bare]}" 'BEGIN {print a / b}')" "${m[native]}" "${m[reference]}"
done
printf 'wizard and bare loop under wine64, engine native; longest the copy page went unanswered: %s ms (%s rounds)\n' \
  "$(sort -g "$work/answers" | tail -n 1)" "$rounds"
