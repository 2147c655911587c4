#!/usr/bin/env bash
# Builds the libFuzzer targets of the parsers with clang (build/fuzz) and
# runs each for a short fixed time over its committed seed corpus.
#
#   scripts/fuzz.sh [seconds-per-target] [target...]
#
# A crash, a leak, an input slower than 10 s or one that needs more than
# 2 GiB fails the run; the input is kept under build/fuzz/findings/<target>/
# for replay (build/fuzz/tests/fuzz/<target>_fuzzer <input>). Fix the fault,
# then add the input to tests/fuzz/regressions/<target>/ so that the normal
# test suite replays it.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
shift || true
build=build/fuzz
jobs=$(nproc)

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLMARK_FUZZ=ON >/dev/null
cmake --build "$build" -j"$jobs" --target fuzz-targets

targets=("$@")
if ((${#targets[@]} == 0)); then
  for dir in tests/fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

# Each input is written out as an image file: keep those in memory.
[[ -z ${TMPDIR:-} && -d /dev/shm && -w /dev/shm ]] && export TMPDIR=/dev/shm
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=()
for target in "${targets[@]}"; do
  binary=$build/tests/fuzz/${target}_fuzzer
  [[ -x $binary ]] || { echo "fuzz.sh: $binary: No such file or directory" >&2; exit 2; }
  # A copy of the corpus: what the run learns must not grow the repository.
  work=$(mktemp -d)
  cp -r "tests/fuzz/corpus/$target" "$work/corpus"
  findings=$build/findings/$target
  mkdir -p "$findings"
  dict=()
  case $target in
    fat_* | deep_fat) dict=(-dict=tests/fuzz/fat.dict) ;;
    ntfs_* | deep_ntfs) dict=(-dict=tests/fuzz/ntfs.dict) ;;
    partitions) dict=(-dict=tests/fuzz/partitions.dict) ;;
    signatures) dict=(-dict=tests/fuzz/signatures.dict) ;;
  esac
  echo "== $target: ${seconds} s"
  if "$binary" "${dict[@]}" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
       -detect_leaks=1 -print_final_stats=1 -artifact_prefix="$findings/" \
       "$work/corpus" >"$work/log" 2>&1; then
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec)' "$work/log" || true
  else
    tail -n 60 "$work/log"
    kept=$(ls -t "$findings" 2>/dev/null | head -n 1)
    echo "fuzz.sh: $target found a fault; the input is kept as $findings/$kept" >&2
    failed+=("$target")
  fi
  rm -rf "$work"
done

if ((${#failed[@]})); then
  echo "fuzz.sh: faults found by: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz.sh: every target ran ${seconds} s without a fault"
