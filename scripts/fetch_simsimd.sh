#!/usr/bin/env bash
# Replaces the SimSIMD sources kept in third_party/simsimd with those of the given release's
# source distribution on PyPI (headers and c/lib.c), and its license text. Builds never run
# this; it is for moving to a new SimSIMD release.
set -euo pipefail
VERSION="${1:-6.5.16}"
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/python_env.sh"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
"$PY" -m pip download --quiet --no-deps --no-binary :all: "simsimd==$VERSION" -d "$tmp"
tar -xzf "$tmp"/simsimd-"$VERSION".tar.gz -C "$tmp"
src="$tmp/simsimd-$VERSION"
rm -rf "$root/third_party/simsimd/include" "$root/third_party/simsimd/c"
mkdir -p "$root/third_party/simsimd/c"
cp -r "$src/include" "$root/third_party/simsimd/include"
cp "$src/c/lib.c" "$root/third_party/simsimd/c/lib.c"
echo "$VERSION" > "$root/third_party/simsimd/VERSION"
{ printf 'SimSIMD %s (third_party/simsimd), compiled into the extension module.\n\n' "$VERSION"; cat "$src/LICENSE"; } \
  > "$root/third_party/licenses/simsimd.txt"
