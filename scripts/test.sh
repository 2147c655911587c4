#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test. Exits non-zero on failure.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

build=build/test
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DQUILLMARK_SANITIZE=ON >/dev/null
cmake --build "$build" -j"$(nproc)"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
(cd "$build" && ctest --output-on-failure -j"$(nproc)" --timeout 900)

# Every fuzz target for a short run over its seed corpus (clang, build/fuzz).
bash scripts/fuzz.sh "${QUILLMARK_FUZZ_SECONDS:-20}"
