#!/usr/bin/env bash
# qvl summary over a folder of rides: the speed-up of two threads over one (--jobs), and its time
# against `qvl analyze` run once per ride. Prints the median wall time of each over REPEATS runs.
# The rides (one-hour runs of the simulated logger by default, about 10 MB each) are recorded once
# into CACHE and reused.
# Usage: bench/summary_bench.sh [BUILD_DIR] [RIDES] [SECONDS] [REPEATS]
#   (defaults: build, 100 rides, 3600 s each, 5 repeats; CACHE: $QVL_BENCH_RIDES or
#   /tmp/qvl-summary-bench)
set -euo pipefail
build=${1:-"$(dirname "$0")/../build"}
rides=${2:-100}
seconds=${3:-3600}
repeats=${4:-5}
qvl="$build/bin/qvl"
cache=${QVL_BENCH_RIDES:-/tmp/qvl-summary-bench}/$rides-$seconds
mkdir -p "$cache"
if [ ! -f "$cache/complete" ]; then
  echo "recording $rides rides of $seconds s into $cache ..."
  "$qvl" sim record -o "$cache/ride000.QVLog" --seconds "$seconds" >/dev/null
  for ((i = 1; i < rides; i++)); do cp "$cache/ride000.QVLog" "$(printf '%s/ride%03d.QVLog' "$cache" "$i")"; done
  touch "$cache/complete"
fi
# Every file once through the page cache, so that no measurement pays for the first read.
cat "$cache"/*.QVLog >/dev/null

# seconds COMMAND...: the wall time of one run.
seconds_of() {
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
analyze_each() {
  local f
  for f in "$cache"/*.QVLog; do "$qvl" analyze "$f" --run 0; done
}

one=() two=() each=()
for ((r = 0; r < repeats; r++)); do
  one+=("$(seconds_of "$qvl" summary "$cache" --jobs 1)")
  two+=("$(seconds_of "$qvl" summary "$cache" --jobs 2)")
  each+=("$(seconds_of analyze_each)")
done
m1=$(median "${one[@]}")
m2=$(median "${two[@]}")
me=$(median "${each[@]}")
echo "rides: $rides x $seconds s, $repeats repeats, $(nproc) cores"
printf 'qvl summary --jobs 1        median %8.3f s  (%s)\n' "$m1" "${one[*]}"
printf 'qvl summary --jobs 2        median %8.3f s  (%s)\n' "$m2" "${two[*]}"
printf 'qvl analyze, once per ride  median %8.3f s  (%s)\n' "$me" "${each[*]}"
printf 'speed-up of 2 threads over 1:          %.2f x (goal: at least 1.7 x)\n' "$(echo "$m1 / $m2" | bc -l)"
printf 'summary --jobs 1 against analyze each: %.2f x (goal: at most 1.5 x)\n' "$(echo "$m1 / $me" | bc -l)"
