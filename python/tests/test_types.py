"""The types that checkers see: stubs agree with the runtime, and mypy and pyright read them."""
import importlib.util
import pathlib
import shutil
import subprocess
import sys
import textwrap

import pytest

HERE = pathlib.Path(__file__).resolve().parent

GOOD = textwrap.dedent("""
    import pathlib
    from typing import Any, Dict, Iterator, List, Optional

    import numpy as np
    import numpy.typing as npt

    import _quarn
    import quarn

    raw: _quarn.Database = _quarn.Database("raw", dim=3)
    raw_hits: List[_quarn.SearchResult] = raw.search([1.0, 2.0, 3.0])
    db: quarn.Database = quarn.Database(pathlib.Path("data"), dim=3)
    db.add("a", np.zeros(3, dtype=np.float64), {"k": 1})
    db.add("b", [1.0, 2.0, 3.0])
    db.add_many(["c"], np.zeros((1, 3), dtype=np.float16), progress=lambda done, total: None)
    db.upsert_many(["d"], [[1, 2, 3]], [None])
    hits: List[quarn.SearchResult] = db.search(np.ones(3, dtype=np.float32), k=1, include_vectors=True)
    id_, distance, metadata = hits[0]
    text: str = id_
    number: float = distance
    meta: Optional[Dict[str, Any]] = metadata
    vector: Optional[npt.NDArray[np.float32]] = hits[0].vector
    arrays: quarn.SearchArrays = db.search_many_arrays(np.ones((2, 3)), k=2)
    distances: npt.NDArray[np.float32] = arrays.distances
    block, metadatas = db.get_many(["a"])
    records: Iterator[quarn.Record] = iter(db)
    version: str = quarn.__version__
    with quarn.Database("data", read_only=True) as reader:
        count: int = len(reader)
""")

# Each line is wrong in one way; every checker must report every line.
BAD = {
    4: "db.add(123, [1.0, 2.0, 3.0])",
    5: "db.search([1.0], k='3')",
    6: "text: str = db.search([1.0])[0][1]",
    7: "db.add_many(['a'], [[1.0]], {'k': 1})",
    8: "missing: int = db.get_many(['a'])",
    9: "_quarn.Database('raw', dim='3')",
}
BAD_SOURCE = "import _quarn\nimport quarn\ndb = quarn.Database('data', dim=3)\n" + "\n".join(BAD.values()) + "\n"


@pytest.fixture
def sources(tmp_path):
    (tmp_path / "good.py").write_text(GOOD)
    (tmp_path / "bad.py").write_text(BAD_SOURCE)
    (tmp_path / "pyrightconfig.json").write_text('{"typeCheckingMode": "standard"}')
    return tmp_path


def run(args, cwd):
    return subprocess.run(args, cwd=cwd, capture_output=True, text=True, timeout=300)


@pytest.mark.skipif(importlib.util.find_spec("mypy") is None, reason="mypy is not installed")
def test_stubs_match_the_runtime(tmp_path):
    config = tmp_path / "mypy.ini"
    # quarn.distributed is checked by its own tests; its Ray actors defeat a static checker.
    config.write_text("[mypy]\n[mypy-quarn.distributed]\nignore_errors = True\n")
    result = run([sys.executable, "-m", "mypy.stubtest", "_quarn", "quarn", "--mypy-config-file", str(config),
                  "--allowlist", str(HERE / "stubtest_allowlist.txt")], tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


@pytest.mark.skipif(importlib.util.find_spec("mypy") is None, reason="mypy is not installed")
def test_mypy_strict_reads_the_package_types(sources):
    good = run([sys.executable, "-m", "mypy", "--strict", "--cache-dir", str(sources / ".cache"), "good.py"], sources)
    assert good.returncode == 0, good.stdout
    bad = run([sys.executable, "-m", "mypy", "--strict", "--cache-dir", str(sources / ".cache"), "bad.py"], sources)
    flagged = {int(line.split(":")[1]) for line in bad.stdout.splitlines() if ": error:" in line}
    assert flagged == set(BAD), bad.stdout


@pytest.mark.skipif(shutil.which("basedpyright") is None, reason="basedpyright is not installed")
def test_pyright_reads_the_package_types(sources):
    # The interpreter under test, not whichever python is first on PATH.
    good = run(["basedpyright", "--pythonpath", sys.executable, "good.py"], sources)
    assert good.returncode == 0, good.stdout
    bad = run(["basedpyright", "--pythonpath", sys.executable, "bad.py"], sources)
    flagged = {int(line.split(":")[1]) for line in bad.stdout.splitlines() if " - error:" in line}
    assert flagged == set(BAD), bad.stdout
