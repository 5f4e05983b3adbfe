"""Snapshots, the context manager, log replay across processes, compaction, statistics, quantization."""
import os
import shutil
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import quarn
from conftest import brute_force, low_rank, scaled


def run_python(code, timeout=120):
    done = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                          timeout=timeout, env=dict(os.environ))
    assert done.returncode == 0, done.stderr
    return done.stdout


def test_save_writes_the_snapshot_and_reopen_restores_everything(path):
    db = quarn.Database(path, dim=3, metric="dot", m=8, ef_construction=50)
    db.add_many(["a", "b", "c"], [[1, 0, 0], [0, 1, 0], [0, 0, 1]], [{"k": 1}, None, {"k": [1, 2]}])
    db.delete("b")
    assert db.save() is None
    assert sorted(os.listdir(path)) == ["graph.quarn", "manifest.quarn", "vectors.bin", "writer.lock"]
    assert os.path.getsize(os.path.join(path, "vectors.bin")) == 4 * 3 * (3 + 1)

    db.close()
    again = quarn.Database(path)
    assert (again.dim, again.metric, len(again), again.total_slots, again.deleted_count) == (3, "dot_product", 2, 3, 1)
    assert again.get("a") == ([1.0, 0.0, 0.0], {"k": 1})
    assert again.get("c") == ([0.0, 0.0, 1.0], {"k": [1, 2]})
    assert [r.id for r in again.search([0, 0, 1], k=5)] == ["c", "a"]
    assert again.count({"k": 1}) == 1


def test_empty_database_snapshot_bytes(path):
    quarn.Database(path, dim=3).save()
    with open(os.path.join(path, "graph.quarn"), "rb") as f:
        assert f.read() == bytes.fromhex(
            "47575348 02000000 03000000 00 10000000 c8000000 ffffffff 00000000 00000000 00000000 41544 54d 00000000"
            .replace(" ", ""))
    assert os.path.getsize(os.path.join(path, "vectors.bin")) == 0


def test_context_manager_returns_itself_and_saves_even_when_the_block_raises(path):
    with quarn.Database(path, dim=2) as db:
        assert isinstance(db, quarn.Database)
        db.add("a", [1, 2])
    assert set(os.listdir(path)) == {"graph.quarn", "manifest.quarn", "vectors.bin", "writer.lock"}
    assert db.closed

    outer = quarn.Database(path)
    with pytest.raises(KeyError):
        with outer as inner:
            assert inner is outer
            inner.add("b", [3, 4])
            raise KeyError("boom")
    assert "wal.quarn" not in os.listdir(path)
    assert sorted(quarn.Database(path).ids()) == ["a", "b"]
    assert outer.__exit__() is False
    assert outer.__exit__(None, None, None) is False
    assert outer.__exit__(ValueError, ValueError("x"), None) is False


def test_save_failure_is_a_value_error_and_leaves_the_object_usable(tmp_path):
    where = tmp_path / "db"
    db = quarn.Database(str(where), dim=2)
    db.add("a", [1, 2])
    shutil.rmtree(where)
    where.write_text("not a directory")
    with pytest.raises(ValueError, match="^io error: "):
        db.save()
    with pytest.raises(ValueError, match="^io error: "):
        with db:
            pass
    assert db.get("a")[0] == [1.0, 2.0]


def test_save_recreates_a_removed_directory(tmp_path):
    where = tmp_path / "db"
    db = quarn.Database(str(where), dim=2)
    db.add("a", [1, 2])
    shutil.rmtree(where)
    db.save()
    assert quarn.Database(str(where)).ids() == ["a"]


def test_writes_after_a_save_are_replayed_after_the_process_dies(path):
    run_python(f"""
        import os, numpy as np, quarn
        db = quarn.Database({path!r}, dim=4)
        db.add_many(["a", "b", "c"], np.eye(3, 4, dtype=np.float32), [{{"n": 1}}, {{"n": 2}}, None])
        db.save()
        db.add("d", [1, 1, 1, 1], {{"n": 4}})
        db.upsert("a", [0, 0, 0, 1])
        db.update("b", metadata={{"n": 20}})
        db.delete("c")
        db.delete_many(["zz"])
        os._exit(0)  # no save, no clean shutdown
    """)
    assert "wal.quarn" in os.listdir(path)
    db = quarn.Database(path)
    assert sorted(db.ids()) == ["a", "b", "d"]
    assert db.get("a") == ([0.0, 0.0, 0.0, 1.0], None)
    assert db.get("b")[1] == {"n": 20}
    assert db.get("d") == ([1.0] * 4, {"n": 4})
    assert db.count({"n": {"$gt": 1}}) == 2


def test_a_never_saved_database_reopens_with_its_own_parameters(path):
    run_python(f"""
        import quarn
        db = quarn.Database({path!r}, dim=2, metric="l2", m=8, ef_construction=40)
        db.add("a", [1, 0], {{"k": "v"}})
        db.add_many(["b", "c"], [[0, 1], [1, 1]])
    """)
    assert sorted(os.listdir(path)) == ["graph.quarn", "manifest.quarn", "vectors.bin", "wal.quarn", "writer.lock"]
    # Open-only finds it, and other arguments lose against what was created: no logged record
    # is skipped for a dimension the open chose, no metric silently changes.
    for arguments in ({}, {"dim": 3}, {"dim": 2, "metric": "dot"}):
        with quarn.Database(path, **arguments) as db:
            assert (db.dim, db.metric, sorted(db.ids())) == (2, "euclidean", ["a", "b", "c"]), arguments
            assert db.get("a") == ([1.0, 0.0], {"k": "v"})
            assert db.stats()["num_vectors"] == 3


def test_compact_renumbers_live_records_and_keeps_their_data(path):
    db = quarn.Database(path, dim=2, metric="l2")
    db.add_many(list("abcd"), [[0, 0], [1, 0], [2, 0], [3, 0]], [{"t": x} for x in "abcd"])
    db.compact()
    assert (db.total_slots, db.deleted_count) == (4, 0)
    db.delete("a")
    db.delete("c")
    assert db.compact() is None
    assert (len(db), db.total_slots, db.deleted_count) == (2, 2, 0)
    assert db.get("b") == ([1.0, 0.0], {"t": "b"})
    assert [r.id for r in db.search([3, 0], k=5)] == ["d", "b"]
    assert db.count({"t": {"$in": ["a", "b", "c", "d"]}}) == 2
    assert db.stats()["num_deleted"] == 0
    db.save()
    assert os.path.getsize(os.path.join(path, "vectors.bin")) == 4 * 2 * 3
    db.delete_many(["b", "d"])
    db.compact()
    stats = db.stats()
    assert (db.total_slots, stats["num_layers"], stats["uses_brute_force"]) == (0, 0, True)


def test_stats_keys_types_and_figures(path):
    db = quarn.Database(path, dim=4)
    empty = db.stats()
    assert list(empty) == ["num_vectors", "num_deleted", "num_layers", "avg_degree_layer0", "max_degree_layer0",
                           "min_degree_layer0", "memory_vectors_bytes", "memory_graph_bytes",
                           "memory_quantized_bytes", "uses_brute_force", "uses_quantized_search", "reachable_layer0",
                           "vectors_in_memory"]
    assert empty == dict.fromkeys(empty, 0) | {"avg_degree_layer0": 0.0, "uses_brute_force": True,
                                               "uses_quantized_search": False, "vectors_in_memory": True}
    assert isinstance(empty["avg_degree_layer0"], float) and isinstance(empty["uses_brute_force"], bool)
    db.add_many([str(i) for i in range(5)], np.arange(20, dtype=np.float32).reshape(5, 4) + 1)
    db.delete("0")
    stats = db.stats()
    assert (stats["num_vectors"], stats["num_deleted"], stats["memory_vectors_bytes"]) == (4, 1, 80)
    assert stats["uses_brute_force"] is True and stats["memory_graph_bytes"] > 0
    assert stats["min_degree_layer0"] <= stats["avg_degree_layer0"] <= stats["max_degree_layer0"]
    assert stats["reachable_layer0"] == 4


def test_quantized_search_switches(path, rng):
    db = quarn.Database(path, dim=8)
    db.enable_quantized_search()
    assert db.quantized_search is False
    db.add_many([str(i) for i in range(50)], rng.normal(size=(50, 8)).astype(np.float32))
    assert db.enable_quantized_search() is None and db.quantized_search is True
    assert db.stats()["memory_quantized_bytes"] == 8 * 8 + 50 * 8
    assert db.disable_quantized_search() is None and db.quantized_search is False
    assert db.stats()["memory_quantized_bytes"] == 0


def test_quantize_setting_writes_codes_and_the_next_open_uses_them(path, rng):
    data = rng.normal(size=(20, 8)).astype(np.float32)
    with quarn.Database(path, dim=8, quantize=True) as db:
        db.add_many([str(i) for i in range(20)], data)
        assert db.quantized_search is False
    assert os.path.getsize(os.path.join(path, "vectors.sq8")) > 20 * 8
    again = quarn.Database(path)
    assert again.quantized_search is True and again.stats()["uses_quantized_search"] is True
    again.close()
    with quarn.Database(path, dim=8) as kept:  # the codes file keeps the setting on
        assert kept.quantized_search is True
    assert os.path.exists(os.path.join(path, "vectors.sq8"))


def test_quantized_graph_search_returns_exact_distances_and_good_recall(path, rng):
    # dim x live count at the scan limit, so searches walk the graph.
    dim, n = 1000, 10_000
    data = low_rank(rng, n, dim)
    db = quarn.Database(path, dim=dim, metric="l2", m=8, ef_construction=64)
    for start in range(0, n, 2500):
        db.add_many([str(i) for i in range(start, start + 2500)], data[start:start + 2500])
    assert db.stats()["uses_brute_force"] is False
    db.enable_quantized_search()
    queries = data[rng.choice(n, scaled(20, 5), replace=False)] + 0.01
    found = 0
    for query, hits in zip(queries, db.search_many(queries, k=10, ef_search=100)):
        exact = brute_force(data, query, "euclidean")
        truth = set(np.argsort(exact)[:10])
        found += len(truth & {int(h.id) for h in hits})
        np.testing.assert_allclose([h.distance for h in hits], exact[[int(h.id) for h in hits]], rtol=1e-3)
        assert [h.distance for h in hits] == sorted(h.distance for h in hits)
    assert found / (10 * len(queries)) >= 0.9
    db.delete(hits[0].id)
    assert hits[0].id not in {h.id for h in db.search(queries[-1], k=10)}
