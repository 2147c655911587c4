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
  --benchmark_format=json > "$WORK/hot-loop.json"
python3 - "$WORK/hot-loop.json" "$CAT_GBS" <<'PY'
import json, sys
cat = float(sys.argv[2])
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("aggregate_name") != "median":
        continue
    gbs = b["bytes_per_second"] / 1e9
    share = 100 * gbs / cat if cat > 0 else 0
    extra = "  %d carving candidates" % b["carve"] if "carve" in b else ""
    print("%-36s %6.2f GB/s  %4.0f %% of cat%s" % (b["run_name"], gbs, share, extra))
PY
