#!/usr/bin/env bash
# Extraction benchmark: the engine against cp -r (1.2 GiB in 60 files of 20 MiB) and tar -xf (20,000
# files of 1 to 16 KiB in 200 folders) on the same disk, and the same extraction under wine64.
# Every run writes into a fresh folder (extracting into a just-deleted tree is slow here) and is synced
# before the next starts, the contenders alternate, and the figures are medians.
#   bash tests/bench/run_bench.sh [WORKDIR] [ROUNDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=${1:-$root/build/bench-data}
rounds=${2:-5}
build=$root/build/bench
mkdir -p "$work"
work=$(cd "$work" && pwd)

cmake -S "$root" -B "$build/native" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/native" --target bench_extract -j "$(nproc)" >/dev/null
cmake -S "$root" -B "$build/win64" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" >/dev/null
cmake --build "$build/win64" --target bench_extract -j "$(nproc)" >/dev/null
native=$build/native/tests/bench/bench_extract
windows=$build/win64/tests/bench/bench_extract.exe

for set in large small; do
  if [ ! -f "$work/$set.cab.list" ]; then
    echo "making the $set data set in $work"
    rm -rf "$work/$set-tree" "$work/$set.tar"
    "$native" make "$set" "$work/$set-tree" "$work/$set.cab"
  fi
done
# The reference's archive holds the files in the volume's order.
[ -f "$work/small.tar" ] || tar -cf "$work/small.tar" -C "$work/small-tree" --no-recursion -T "$work/small.cab.list"
sync

. "$root/scripts/wine-env.sh"
wine_start
trap wine_stop EXIT

. "$root/tests/bench/bench-lib.sh"
declare -A times
# The runs happen in command substitutions, so their peak memory goes through files.
rm -f "$work/peaks-native" "$work/peaks-wine"
run_engine() {  # data set, output folder
  local start out
  start=$(now)
  out=$("$native" extract "$work/$1.cab" "$2")
  seconds_since "$start"
  echo "$out" | awk '{print $4}' >>"$work/peaks-native"
}
run_wine() {
  local start out
  start=$(now)
  out=$(wine_run "$windows" extract "Z:$work/$1.cab" "Z:$2" | tr -d '\r')
  seconds_since "$start"
  echo "$out" | awk '{print $4}' >>"$work/peaks-wine"
}

stamp=$(date +%s)
for round in $(seq 1 "$rounds"); do
  for set in large small; do
    base=$work/out-$stamp-$round-$set
    # Alternate which contender goes first; each starts on a disk with nothing of the one before it
    # left to write back.
    if [ $((round % 2)) -eq 1 ]; then order="engine ref wine"; else order="ref engine wine"; fi
    for contender in $order; do
      case $contender in
        engine) times[$set-engine]+="$(run_engine $set "$base-engine") " ;;
        ref) times[$set-ref]+="$(run_reference $set "$base-ref") " ;;
        wine) times[$set-wine]+="$(run_wine $set "$base-wine") " ;;
      esac
      sync
    done
  done
  echo "round $round done"
done
rm -rf "$work"/out-"$stamp"-*

printf '\n%-44s %10s %10s %8s %12s\n' "data set" "engine s" "reference" "ratio" "wine64 s"
for set in large small; do
  e=$(echo "${times[$set-engine]}" | tr ' ' '\n' | grep . | median)
  r=$(echo "${times[$set-ref]}" | tr ' ' '\n' | grep . | median)
  w=$(echo "${times[$set-wine]}" | tr ' ' '\n' | grep . | median)
  label="(a) 1.2 GiB, 60 x 20 MiB vs cp -r"
  [ $set = small ] && label="(b) 20,000 x 1-16 KiB vs tar -xf"
  printf '%-44s %10.3f %10.3f %8.2f %12.3f\n' "$label" "$e" "$r" "$(awk -v a="$e" -v b="$r" 'BEGIN {print a / b}')" "$w"
done
printf 'largest peak memory of any extraction: native %s MiB, wine64 %s MiB; times are medians of %s rounds\n' \
  "$(sort -g "$work/peaks-native" | tail -n 1)" "$(sort -g "$work/peaks-wine" | tail -n 1)" "$rounds"
