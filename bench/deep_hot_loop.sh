#!/bin/bash
# The deep scan's hot loop (read-ahead blocks and the classification of every
# sector) against `cat IMAGE > /dev/null`, both from a warm page cache, on
# the image bench/make_deep_image.sh builds.
#
# Usage: bench/deep_hot_loop.sh [bench-deep_hot_loop] [GiB] [runs] [work-folder]
# The benchmark program is built with -DQUILLMARK_BUILD_BENCH=ON
# (build/bench/bench/bench-deep_hot_loop). Needs /usr/bin/time.
set -euo pipefail

BENCH=${1:-build/bench/bench/bench-deep_hot_loop}
GIB=${2:-2}
RUNS=${3:-5}
WORK=${4:-/var/tmp/quillmark-deep-bench}
HERE=$(cd "$(dirname "$0")" && pwd)

[ -x "$BENCH" ] || { echo "no benchmark program at $BENCH (build with -DQUILLMARK_BUILD_BENCH=ON)" >&2; exit 2; }
IMAGE=$("$HERE/make_deep_image.sh" "$GIB" "$WORK")
BYTES=$(stat -c %s "$IMAGE")

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

cat "$IMAGE" > /dev/null
: > "$WORK/cat-hot.txt"
for run in $(seq "$RUNS"); do
  /usr/bin/time -f '%e' -a -o "$WORK/cat-hot.txt" sh -c "cat '$IMAGE' > /dev/null"
done
CAT_S=$(median < "$WORK/cat-hot.txt")
CAT_GBS=$(awk -v b="$BYTES" -v t="$CAT_S" 'BEGIN { printf "%.2f", (t > 0 ? b / t / 1e9 : 0) }')
echo "cat: median $CAT_S s over $RUNS runs, $CAT_GBS GB/s"

QM_DEEP_IMAGE="$IMAGE" "$BENCH" --benchmark_repetitions="$RUNS" --benchmark_report_aggregates_only=true \
  --benchmark_format=csv 2>/dev/null | tee "$WORK/hot-loop.csv" |
  awk -F, -v cat="$CAT_GBS" '
    $1 ~ /_median/ {
      gsub(/"/, "", $1)
      gbs = $6 / 1e9
      printf "%-34s %6.2f GB/s  %5.0f %% of cat\n", $1, gbs, (cat > 0 ? 100 * gbs / cat : 0)
    }'
