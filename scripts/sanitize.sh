#!/usr/bin/env bash
# Builds the engine's C++ suites under a sanitizer and runs them.
#   bash scripts/sanitize.sh thread    # ThreadSanitizer
#   bash scripts/sanitize.sh address   # AddressSanitizer + UndefinedBehaviorSanitizer
# Extra arguments are passed to ctest (e.g. -R hnsw).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
kind="${1:?usage: sanitize.sh thread|address [ctest args]}"
shift
bash scripts/setup.sh
source scripts/python_env.sh
cmake -S . -B "build/san-$kind" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARN_BUILD_TESTS=ON \
  -DQUARN_BUILD_PYTHON=OFF -DQUARN_SANITIZE="$kind" -DPython_EXECUTABLE="$PY" >/dev/null
cmake --build "build/san-$kind" -j "$(nproc)"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QUARN_TEST_SCALE=small
ctest --test-dir "build/san-$kind" --output-on-failure "$@"
