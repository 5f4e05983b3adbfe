#!/usr/bin/env bash
# Builds the engine and its C++ tests, installs the Python package, and runs every test.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/setup.sh
source scripts/python_env.sh
jobs="$(nproc)"
cmake -S . -B build/tests -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARN_BUILD_TESTS=ON -DQUARN_BUILD_PYTHON=OFF \
  -DPython_EXECUTABLE="$PY" >/dev/null
cmake --build build/tests -j "$jobs"
ctest --test-dir build/tests --output-on-failure -j "$jobs"
# The package is built once, as a user would build it: sdist, then offline from it in a fresh
# virtual environment, then repaired by auditwheel. That wheel is what the tests use, and the
# packaging tests check those files instead of building again.
bash scripts/build_dist.sh build/dist
wheel="$(ls build/dist/repaired/quarn-*.whl 2>/dev/null || ls build/dist/wheel/quarn-*.whl)"
"$PY" -m pip install --quiet --disable-pip-version-check --force-reinstall --no-deps "$wheel"
export QUARN_DIST_DIR="$root/build/dist"
if [ -d python/tests ] && ls python/tests/test_*.py >/dev/null 2>&1; then
  (cd python/tests && "$PY" -m pytest -q -p no:cacheprovider .)
fi
