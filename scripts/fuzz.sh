#!/usr/bin/env bash
# Builds the libFuzzer targets with AddressSanitizer and UndefinedBehaviorSanitizer in
# build/fuzz and runs each one in turn, one process at a time, at the lowest priority.
#   bash scripts/fuzz.sh                 # every target, 900 seconds each
#   bash scripts/fuzz.sh 300 wal json    # 300 seconds each, only these targets
# Corpora live in build/fuzz/corpus/<target> (seeded from the engine's own writers) and grow
# across runs; crashing inputs land in build/fuzz/artifacts/<target>/. Exits non-zero when a
# target found something.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
seconds="${1:-900}"
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(snapshot wal json filter)

if ! command -v clang++ >/dev/null 2>&1 || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  version="$(apt-cache policy clang | sed -n 's/^ *Candidate: 1:\([0-9]*\).*/\1/p')"
  apt-get install -y -qq clang "libclang-rt-${version}-dev" >/dev/null
fi
bash scripts/setup.sh
source scripts/python_env.sh

build=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUARN_BUILD_PYTHON=OFF -DQUARN_BUILD_TESTS=OFF -DQUARN_BUILD_FUZZERS=ON -DQUARN_SANITIZE=address -DPython_EXECUTABLE="$PY" >/dev/null
cmake --build "$build" -j 2

if [ ! -d "$build/corpus" ]; then
  "$build/core/fuzz/make_seeds" "$build/corpus"
fi

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
status=0
for target in "${targets[@]}"; do
  mkdir -p "$build/artifacts/$target" "$build/corpus/$target"
  echo "== $target: ${seconds}s"
  TIMEFORMAT="$target: %R s wall, %U s user, %S s system"
  time nice -n 19 "$build/core/fuzz/${target}_fuzz" -max_total_time="$seconds" -rss_limit_mb=2048 \
    -malloc_limit_mb=1024 -timeout=30 -max_len=65536 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$target/" "$build/corpus/$target" \
    >"$build/$target.log" 2>&1 || status=1
  grep -E 'property failed|ERROR|SUMMARY|DONE|stat::' "$build/$target.log" | tail -n 12
done
ls -la "$build"/artifacts/*/ 2>/dev/null | grep -E 'crash-|leak-|timeout-|oom-' || echo "no findings"
exit "$status"
