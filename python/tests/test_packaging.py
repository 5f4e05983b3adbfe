"""The release files: the source distribution builds offline in a fresh virtual environment with no
Debian -dev package, and the wheel, repaired by auditwheel, carries the licenses of the code it
bundles and installs offline. scripts/build_dist.sh makes the files; scripts/test.sh runs it once
and passes its folder as QUARN_DIST_DIR, otherwise this test runs it (slow; deselect with
-m 'not slow')."""
import importlib.util
import os
import pathlib
import subprocess
import sys
import tarfile
import zipfile

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
LICENSES = {"simsimd.txt", "nlohmann-json.txt", "pybind11.txt"}

pytestmark = pytest.mark.slow


def run(args, **kwargs):
    result = subprocess.run([str(a) for a in args], capture_output=True, text=True, timeout=1500, **kwargs)
    assert result.returncode == 0, f"{args}\n{result.stdout[-4000:]}\n{result.stderr[-4000:]}"
    return result


@pytest.fixture(scope="module")
def dist(tmp_path_factory):
    given = os.environ.get("QUARN_DIST_DIR")
    if given:
        return pathlib.Path(given)
    if importlib.util.find_spec("build") is None:
        pytest.skip("the build package is not installed")
    out = tmp_path_factory.mktemp("dist")
    run(["bash", ROOT / "scripts" / "build_dist.sh", out])
    return out


def test_the_sdist_holds_what_an_offline_build_needs(dist):
    (sdist,) = dist.glob("quarn-*.tar.gz")
    names = {name.split("/", 1)[1] for name in tarfile.open(sdist).getnames() if "/" in name}
    for needed in ("third_party/simsimd/c/lib.c", "third_party/simsimd/include/simsimd/simsimd.h",
                   "third_party/licenses/simsimd.txt", "core/CMakeLists.txt", "python/_quarn.pyi",
                   "python/quarn/py.typed", "pyproject.toml"):
        assert needed in names, needed
    assert not any(name.startswith(("build/", ".deps/", ".venv/")) for name in names)


def test_the_wheel_built_offline_is_repaired_and_carries_the_licenses(dist):
    (wheel,) = dist.glob("wheel/quarn-*.whl")  # built by pip with its index switched off
    repaired = list(dist.glob("repaired/quarn-*.whl"))
    if importlib.util.find_spec("auditwheel") is not None:
        (wheel,) = repaired
        assert "manylinux" in wheel.name
    names = zipfile.ZipFile(wheel).namelist()
    assert LICENSES <= {pathlib.PurePosixPath(n).name for n in names if ".dist-info/licenses/" in n}
    assert {"quarn/py.typed", "_quarn-stubs/__init__.pyi", "quarn/cli.py"} <= set(names)


def test_the_wheel_installs_offline_into_a_fresh_venv(dist, tmp_path):
    (wheel,) = list(dist.glob("repaired/quarn-*.whl")) or list(dist.glob("wheel/quarn-*.whl"))
    run([sys.executable, "-m", "venv", tmp_path / "venv"])
    python = tmp_path / "venv" / "bin" / "python"
    offline = dict(os.environ, PIP_NO_INDEX="1", PIP_FIND_LINKS=str(dist / "wheelhouse"),
                   PIP_DISABLE_PIP_VERSION_CHECK="1")
    run([python, "-m", "pip", "install", "--quiet", wheel], env=offline)
    run([python, "-c", "import _quarn, quarn; _quarn.Database"], cwd=tmp_path)
    script = ("import _quarn, quarn; db = _quarn.Database('db', dim=2); db.add('a', [1, 0]); "
              "print(quarn.__version__, db.search([1, 0], k=1)[0].id, quarn._quarn is _quarn)")
    assert run([python, "-c", script], cwd=tmp_path).stdout.split()[1:] == ["a", "True"]
