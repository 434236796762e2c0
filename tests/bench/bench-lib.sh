# Sourced by the benchmark scripts: timing, medians and the reference tools' runs. The reference runs
# need $work, holding large-tree/ and small.tar.
now() { date +%s.%N; }
median() { sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
seconds_since() { awk -v a="$1" -v b="$(now)" 'BEGIN {printf "%.3f", b - a}'; }
run_reference() {  # data set, output folder: cp -r of the large tree, tar -xf of the small archive
  local start
  start=$(now)
  if [ "$1" = large ]; then cp -r "$work/large-tree" "$2"; else mkdir -p "$2" && tar -xf "$work/small.tar" -C "$2"; fi
  seconds_since "$start"
}
