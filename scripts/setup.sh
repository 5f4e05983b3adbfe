#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a fresh machine.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
need_apt=0
for pkg in libgtest-dev nlohmann-json3-dev zlib1g-dev; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need_apt=1
done
if [ "$need_apt" = 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq libgtest-dev nlohmann-json3-dev zlib1g-dev >/dev/null
fi
python3 -m pip install --quiet --disable-pip-version-check \
  "numpy>=1.24" "pytest>=7" "pybind11>=2.12" "scikit-build-core>=0.9" "cmake>=3.24" ninja
# Ray: quarn.distributed (the quarn[ray] extra) and its tests.
python3 -m pip install --quiet --disable-pip-version-check "ray==2.60.0"
bash "$root/scripts/fetch_simsimd.sh"
