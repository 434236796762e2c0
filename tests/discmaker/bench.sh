#!/bin/sh
# Packing speed against cp: packs a 1.2 GiB tree with `discmaker pack --no-iso` and copies the same tree
# with `cp -r`, alternating the two for several rounds on the same disk, and prints the medians. Each
# time runs until the written data has been synced to the disk; every run writes into a fresh folder
# (writing again into a just-deleted tree is slow here).
# Usage: bench.sh [DISCMAKER] [ROUNDS] [WORKDIR]
set -eu
discmaker=${1:-build/native/tools/discmaker/discmaker}
rounds=${2:-5}
base=${3:-${TMPDIR:-/tmp}}
discmaker=$(realpath "$discmaker")
work=$(mktemp -d "$base/discmaker-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

# 1.2 GiB in 640 files of 0.5 to 3.5 MiB over 8 folders, the shape of a voice pack; fixed sizes so every
# run measures the same work.
/usr/bin/python3 - "$work/tree" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(1)
block = os.urandom(4 << 20)
total, target = 0, int(1.2 * (1 << 30))
i = 0
while total < target:
    size = min(rng.randint(512 << 10, 3584 << 10), target - total)
    folder = os.path.join(root, "Voice", "chapter%d" % (i % 8))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "line%04d.ogg" % i), "wb") as f:
        prefix = i.to_bytes(8, "little")
        f.write(prefix + (block * (size // len(block) + 1))[: size - 8])
    total += size
    i += 1
print("tree: %d files, %d bytes" % (i, total))
PY
for name in Setup.exe eula.txt den.dat launch.ini; do head -c 100000 /dev/urandom > "$work/$name"; done

now() { date +%s.%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

: > "$work/cp.times"
: > "$work/pack.times"
r=1
while [ "$r" -le "$rounds" ]; do
    # Alternate which contender goes first, so neither always meets the other's dirty pages.
    for contender in $( [ $((r % 2)) -eq 1 ] && echo "cp pack" || echo "pack cp" ); do
        sync
        start=$(now)
        if [ "$contender" = cp ]; then
            cp -r "$work/tree" "$work/cp-out-$r"
        else
            "$discmaker" pack --quiet --no-iso --tree "$work/tree" --setup "$work/Setup.exe" --eula "$work/eula.txt" \
                --den "$work/den.dat" --launch "$work/launch.ini" --out "$work/pack-out-$r" > /dev/null
        fi
        # Until the data is on the disk: what is left in the page cache would otherwise fall on whoever
        # runs next.
        sync
        end=$(now)
        echo "$end - $start" | bc >> "$work/$contender.times"
    done
    r=$((r + 1))
done

cp_median=$(median < "$work/cp.times")
pack_median=$(median < "$work/pack.times")
echo "rounds:                $rounds"
echo "cp -r          (s):    $(tr '\n' ' ' < "$work/cp.times")"
echo "discmaker pack (s):    $(tr '\n' ' ' < "$work/pack.times")"
echo "median cp -r:          $cp_median s"
echo "median discmaker pack: $pack_median s"
echo "speed of pack relative to cp: $(echo "scale=3; $cp_median / $pack_median" | bc) (target: at least 0.9)"
