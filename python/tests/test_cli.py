"""The command-line tool on a small database: import, info, stats, search, export, verify."""
import json
import os
import shutil
import subprocess
import sys

import numpy as np
import pytest

pytest.importorskip("click")
from click.testing import CliRunner  # noqa: E402

from quarn.cli import cli  # noqa: E402


def run(*args):
    result = CliRunner().invoke(cli, [str(a) for a in args], catch_exceptions=False)
    return result.exit_code, result.output


@pytest.fixture
def imported(tmp_path, rng):
    vectors = rng.normal(size=(300, 8)).astype(np.float32)
    np.save(tmp_path / "v.npy", vectors)
    with open(tmp_path / "r.jsonl", "w") as lines:
        for i in range(300):
            lines.write(json.dumps({"id": f"doc-{i}", "metadata": {"n": i}}) + "\n")
    db = tmp_path / "db"
    code, out = run("import", db, tmp_path / "v.npy", "--records", tmp_path / "r.jsonl", "--metric", "l2", "-q")
    assert (code, out.strip()) == (0, f"{db}: 300 records")
    return tmp_path, db, vectors


def test_import_then_export_round_trips_ids_vectors_and_metadata(imported):
    tmp, db, vectors = imported
    code, out = run("export", db, tmp / "out.npz", "--records", tmp / "out.jsonl", "-q")
    assert code == 0
    data = np.load(tmp / "out.npz")
    by_id = dict(zip(data["ids"].tolist(), data["vectors"]))
    assert sorted(by_id) == sorted(f"doc-{i}" for i in range(300))
    assert all((by_id[f"doc-{i}"] == vectors[i]).all() for i in range(300))
    records = [json.loads(line) for line in open(tmp / "out.jsonl")]
    assert [r["id"] for r in records] == data["ids"].tolist()
    assert all(r["metadata"] == {"n": int(r["id"][4:])} for r in records)
    # An export imports again: ids from the .npz, metadata from the JSON lines.
    code, _ = run("import", tmp / "again", tmp / "out.npz", "--records", tmp / "out.jsonl", "--metric", "l2", "-q")
    assert code == 0
    code, out = run("search", tmp / "again", "--id", "doc-5", "-k", "1", "--json")
    hit = json.loads(out)
    assert (hit["id"], hit["metadata"]) == ("doc-5", {"n": 5}) and abs(hit["distance"]) < 1e-4


def test_info_and_stats(imported):
    _, db, _ = imported
    code, out = run("info", db, "--json")
    facts = json.loads(out)
    assert code == 0 and (facts["dim"], facts["metric"], facts["count"]) == (8, "euclidean", 300)
    assert "graph.quarn" in facts["files"] and "vectors.bin" in facts["files"]
    code, out = run("stats", db)
    assert code == 0 and json.loads(out)["num_vectors"] == 300


def test_search_by_id_and_by_npy_row_with_a_filter(imported):
    tmp, db, vectors = imported
    code, out = run("search", db, "--id", "doc-3", "-k", "3", "--where", '{"n": {"$lt": 100}}', "--json")
    hits = [json.loads(line) for line in out.splitlines()]
    assert code == 0 and hits[0]["id"] == "doc-3" and all(h["metadata"]["n"] < 100 for h in hits)
    np.save(tmp / "q.npy", vectors[10:12])
    code, out = run("search", db, "--query", tmp / "q.npy", "--row", 1, "-k", 1)
    assert code == 0 and out.split()[1] == "doc-11"


SEARCH_ERRORS = [
    (["--id", "nope"], "id 'nope' not found"),
    ([], "give exactly one of --query FILE.npy or --id ID"),
    (["--id", "doc-1", "--where", "{bad"], "not valid JSON"),
]


@pytest.mark.parametrize("args, message", SEARCH_ERRORS)
def test_search_errors_exit_non_zero_with_a_message(imported, args, message):
    _, db, _ = imported
    result = CliRunner().invoke(cli, ["search", str(db), *args])
    assert result.exit_code != 0 and message in result.output


def test_import_refuses_an_existing_id_unless_upsert(imported):
    tmp, db, _ = imported
    np.savez(tmp / "one.npz", vectors=np.ones((1, 8), np.float32), ids=np.array(["doc-1"]))
    result = CliRunner().invoke(cli, ["import", str(db), str(tmp / "one.npz"), "-q"])
    assert result.exit_code == 1 and "id 'doc-1' already exists; use --upsert" in result.output
    assert run("import", db, tmp / "one.npz", "--upsert", "-q")[0] == 0
    assert run("search", db, "--id", "doc-1", "-k", 1, "--json")[1].count("doc-1") == 1


def damage_flip_byte(directory):
    path = os.path.join(directory, "graph.quarn")
    data = bytearray(open(path, "rb").read())
    data[len(data) // 2] ^= 0xFF
    open(path, "wb").write(bytes(data))


def damage_truncate_vectors(directory):
    with open(os.path.join(directory, "vectors.bin"), "r+b") as f:
        f.truncate(1000)


def damage_remove_graph(directory):
    os.remove(os.path.join(directory, "graph.quarn"))


@pytest.mark.parametrize("damage", [damage_flip_byte, damage_truncate_vectors, damage_remove_graph])
def test_verify_passes_a_sound_database_and_fails_a_damaged_copy(imported, damage):
    tmp, db, _ = imported
    code, out = run("verify", db, "-q")
    assert (code, out.strip()) == (0, f"{db}: OK")
    copy = tmp / "copy"
    shutil.copytree(db, copy)
    damage(copy)
    code, out = run("verify", copy, "-q")
    assert code == 1 and "FAILED" in out


def test_module_and_help_run_as_commands():
    result = subprocess.run([sys.executable, "-m", "quarn", "--help"], capture_output=True, text=True, timeout=60)
    assert result.returncode == 0
    for command in ("info", "stats", "verify", "search", "import", "export"):
        assert command in result.stdout
