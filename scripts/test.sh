#!/usr/bin/env bash
# Builds the engine and its C++ tests, installs the Python package, and runs every test.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/setup.sh
jobs="$(nproc)"
cmake -S . -B build/tests -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARN_BUILD_TESTS=ON -DQUARN_BUILD_PYTHON=OFF >/dev/null
cmake --build build/tests -j "$jobs"
ctest --test-dir build/tests --output-on-failure -j "$jobs"
python3 -m pip install --quiet --disable-pip-version-check --no-build-isolation .
if [ -d python/tests ] && ls python/tests/test_*.py >/dev/null 2>&1; then
  (cd python/tests && python3 -m pytest -q -p no:cacheprovider .)
fi
