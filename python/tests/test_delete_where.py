"""delete_where: the records a filter matches, deleted in one batch that a crash cannot split."""
import os
import shutil

import numpy as np
import pytest

import quarn

N = 200
COLORS = ["red", "green", "blue"]


def metadata_of(i):
    if i % 11 == 10:
        return None
    return {"n": i, "color": COLORS[i % 3], "even": i % 2 == 0, **({"tag": "x"} if i % 5 == 0 else {})}


def filled(path):
    db = quarn.Database(path, dim=4)
    rng = np.random.default_rng(5)
    db.add_many([f"r{i}" for i in range(N)], rng.normal(size=(N, 4)).astype(np.float32),
                [metadata_of(i) for i in range(N)])
    return db


# Each filter beside the same condition written in Python over the records as they were made.
CASES = [
    ({"color": "red"}, lambda m: m["color"] == "red"),
    ({"n": {"$lt": 30}}, lambda m: m["n"] < 30),
    ({"color": {"$ne": "blue"}}, lambda m: m["color"] != "blue"),
    ({"color": {"$in": ["green", "blue"]}, "even": True}, lambda m: m["color"] != "red" and m["even"]),
    ({"$or": [{"tag": "x"}, {"n": {"$gte": 190}}]}, lambda m: m.get("tag") == "x" or m["n"] >= 190),
    ({"tag": {"$exists": False}}, lambda m: "tag" not in m),
    ({"color": "purple"}, lambda m: False),
]


@pytest.mark.parametrize("where, condition", CASES, ids=[str(c[0]) for c in CASES])
def test_deletes_what_a_brute_force_filter_selects(path, where, condition):
    db = filled(path)
    gone = {f"r{i}" for i in range(N) if metadata_of(i) is not None and condition(metadata_of(i))}
    assert db.count(where) == len(gone)
    assert db.delete_where(where) == len(gone)
    assert set(db.ids()) == {f"r{i}" for i in range(N)} - gone
    assert db.delete_where(where) == 0
    db.close()
    assert set(quarn.Database(path).ids()) == {f"r{i}" for i in range(N)} - gone


@pytest.mark.parametrize("where, error", [
    (None, ValueError),
    ({}, ValueError),
    ({"n": {"$bogus": 1}}, ValueError),
    (["n"], TypeError),
])
def test_refuses_a_missing_empty_or_malformed_filter(path, where, error):
    db = filled(path)
    with pytest.raises(error):
        db.delete_where(where)
    assert len(db) == N


def test_read_only_database_refuses_it(path):
    filled(path).close()
    with quarn.Database(path, read_only=True) as reader:
        with pytest.raises(Exception, match="read-only|read only"):
            reader.delete_where({"color": "red"})
        assert len(reader) == N


def test_a_log_cut_anywhere_inside_the_batch_deletes_all_or_nothing(tmp_path):
    # A process killed while writing the batch leaves its log cut short at some byte: every such
    # cut must reopen with none of the matching records deleted, or, at the full length, all.
    source = str(tmp_path / "source")
    db = filled(source)
    db.save()
    log = os.path.join(source, "wal.quarn")
    start = os.path.getsize(log) if os.path.exists(log) else 0
    deleted = db.delete_where({"tag": "x"})
    db.close()
    with open(log, "rb") as f:
        full = f.read()
    assert deleted == 36 and len(full) > start
    outcomes = set()
    for cut in range(start, len(full) + 1):
        copy = str(tmp_path / f"cut{cut}")
        shutil.copytree(source, copy, ignore=shutil.ignore_patterns("writer.lock"))
        with open(os.path.join(copy, "wal.quarn"), "r+b") as f:
            f.truncate(cut)
        with quarn.Database(copy, read_only=True) as reopened:
            left = reopened.count({"tag": "x"})
            assert left in (0, deleted), cut
            assert len(reopened) == N - (deleted - left)
            outcomes.add(left)
        shutil.rmtree(copy)
    assert outcomes == {0, deleted}
