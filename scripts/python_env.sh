# Sourced by the other scripts: sets PY to the interpreter the project installs into.
# $QUARN_PYTHON when set; else python3 when pip may install into it (a virtual environment, or
# an interpreter not managed by the system's package manager); else the virtual environment
# .venv in the repository, created on first use.
root="${root:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
if [ -n "${QUARN_PYTHON:-}" ]; then
  PY="$QUARN_PYTHON"
elif python3 -c 'import os, sys, sysconfig
managed = os.path.exists(os.path.join(sysconfig.get_path("stdlib"), "EXTERNALLY-MANAGED"))
sys.exit(1 if managed and sys.prefix == sys.base_prefix else 0)'; then
  PY="$(command -v python3)"
else
  if [ ! -x "$root/.venv/bin/python" ]; then
    if ! python3 -m venv "$root/.venv" >/dev/null 2>&1; then
      rm -rf "$root/.venv"
      export DEBIAN_FRONTEND=noninteractive
      apt-get update -qq && apt-get install -y -qq python3-venv >/dev/null
      python3 -m venv "$root/.venv"
    fi
  fi
  PY="$root/.venv/bin/python"
  echo "Using the virtual environment $root/.venv (the system Python is managed by the system)." >&2
fi
export PY
