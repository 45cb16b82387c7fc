#!/usr/bin/env bash
# tovihost inspect on a recording of the example plant's size (1.3 million calls,
# about 114 MB, written by plant_recording) against awk counting the calls per
# function of the same file: the ratio of their times and inspect's peak memory.
#   bench/inspect_bench.sh [BUILD_DIR]   (default build/plain; needs tovihost and plant_recording built)
set -euo pipefail
build=${1:-build/plain}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bin/plant_recording" "$work/plant.recording"
size=$(stat -c %s "$work/plant.recording")
calls=$(grep -c '^[0-9]' "$work/plant.recording")
cat "$work/plant.recording" > /dev/null  # in the page cache for both
best() {  # the best of three runs: elapsed seconds, CPU seconds, peak resident KiB
  local best_elapsed="" best_cpu="" peak=0
  for _ in 1 2 3; do
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" > /dev/null
    read -r elapsed user system rss < "$work/time"
    cpu=$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')
    best_elapsed=$(awk -v a="$elapsed" -v b="${best_elapsed:-1e9}" 'BEGIN { print (a < b ? a : b) }')
    best_cpu=$(awk -v a="$cpu" -v b="${best_cpu:-1e9}" 'BEGIN { print (a < b ? a : b) }')
    (( rss > peak )) && peak=$rss
  done
  echo "$best_elapsed $best_cpu $peak"
}
read -r awk_elapsed awk_cpu _ < <(best awk '{n[$3]++}' "$work/plant.recording")
read -r inspect_elapsed inspect_cpu inspect_rss < <(best "$build/bin/tovihost" inspect --plain "$work/plant.recording")
echo "recording: $((size / 1000000)) MB, $calls calls"
echo "awk '{n[\$3]++}': ${awk_elapsed} s (CPU ${awk_cpu} s)"
echo "tovihost inspect: ${inspect_elapsed} s (CPU ${inspect_cpu} s), peak resident $((inspect_rss / 1024)) MiB"
awk -v ie="$inspect_elapsed" -v ae="$awk_elapsed" -v ic="$inspect_cpu" -v ac="$awk_cpu" \
  'BEGIN { printf "ratio inspect/awk: elapsed %.2f, CPU %.2f\n", ie / ae, ic / ac }'
