#!/usr/bin/env bash
# Builds the release files the way a user without network would: the source distribution, then
# from it, in a fresh virtual environment with pip's index switched off, the wheel (its build
# requirements come from a wheelhouse downloaded first), then the wheel repaired by auditwheel.
# The nlohmann/json CMake package of the system is ignored, as on a machine without -dev packages.
# Usage: build_dist.sh [OUT]  (default build/dist); writes OUT/quarn-*.tar.gz, OUT/wheel/,
# OUT/repaired/ (when auditwheel is installed), OUT/wheelhouse/ and OUT/venv/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/python_env.sh"
out="$(mkdir -p "${1:-$root/build/dist}" && cd "${1:-$root/build/dist}" && pwd)"
rm -rf "$out/wheel" "$out/repaired" "$out/venv" "$out"/quarn-*.tar.gz
"$PY" -m build --sdist -o "$out" "$root" >/dev/null
"$PY" -m pip download --quiet --disable-pip-version-check --only-binary :all: -d "$out/wheelhouse" \
  "scikit-build-core>=0.9" "pybind11>=2.12" "numpy>=1.24" "nlohmann-json>=3.11" "cmake>=3.24" ninja
"$PY" -m venv "$out/venv"
PIP_NO_INDEX=1 PIP_FIND_LINKS="$out/wheelhouse" PIP_DISABLE_PIP_VERSION_CHECK=1 \
  CMAKE_ARGS="-DCMAKE_DISABLE_FIND_PACKAGE_nlohmann_json=ON" \
  "$out/venv/bin/python" -m pip wheel --quiet --no-deps -w "$out/wheel" "$out"/quarn-*.tar.gz
if "$PY" -c "import auditwheel" 2>/dev/null; then
  "$PY" -m auditwheel repair -w "$out/repaired" "$out"/wheel/quarn-*.whl >/dev/null
fi
ls "$out"/quarn-*.tar.gz "$out"/wheel/*.whl "$out"/repaired/*.whl 2>/dev/null
