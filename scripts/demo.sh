#!/usr/bin/env bash
# Installs what is needed, builds and installs the package, and runs the demo.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/setup.sh
source scripts/python_env.sh
echo "Building and installing quarn (this compiles the C++ engine; it takes a few minutes the first time)..."
"$PY" -m pip install --quiet --disable-pip-version-check --no-build-isolation .
"$PY" examples/demo.py
