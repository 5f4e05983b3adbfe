#!/usr/bin/env bash
# Unpacks the pinned SimSIMD source distribution from PyPI into .deps/ (git-ignored).
set -euo pipefail
VERSION=6.5.16
root="$(cd "$(dirname "$0")/.." && pwd)"
dest="$root/.deps/simsimd-$VERSION"
if [ -f "$dest/include/simsimd/simsimd.h" ] && [ -f "$dest/c/lib.c" ]; then
  exit 0
fi
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
python3 -m pip download --quiet --no-deps --no-binary :all: "simsimd==$VERSION" -d "$tmp"
mkdir -p "$root/.deps"
tar -xzf "$tmp"/simsimd-"$VERSION".tar.gz -C "$root/.deps"
test -f "$dest/include/simsimd/simsimd.h"
