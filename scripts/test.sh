#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test. Exits non-zero on failure.
#
# Ends with the list of tests that skipped and why. With CI=true, a test that
# skipped for want of ntfs-3g, /dev/fuse or loop devices fails the run: a CI
# runner must have them (scripts/skipped_tests.py).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

build=build/test
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DQUILLMARK_SANITIZE=ON >/dev/null
cmake --build "$build" -j"$(nproc)"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# The skipped tests are listed however the run ends, once ctest has written
# its results.
junit=$PWD/$build/Testing/results.xml
rm -f "$junit"
skip_check=(python3 scripts/skipped_tests.py "$junit")
case ${CI:-} in
  true | TRUE | True | 1) skip_check+=(--ci) ;;
esac
report_skipped() {
  local status=$?
  if [[ -f $junit ]]; then
    echo
    "${skip_check[@]}" || ((status != 0)) || status=1
  fi
  exit "$status"
}
trap report_skipped EXIT

(cd "$build" && ctest --output-on-failure -j"$(nproc)" --timeout 900 \
  --output-junit "$junit")

# Every fuzz target for a short run over its seed corpus (clang, build/fuzz).
bash scripts/fuzz.sh "${QUILLMARK_FUZZ_SECONDS:-20}"
