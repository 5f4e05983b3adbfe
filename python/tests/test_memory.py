"""Repeated calls keep no references to their arguments and do not grow memory."""
import gc
import sys
import tracemalloc

import numpy as np
import pytest

import quarn
from conftest import scaled


def rss_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096


@pytest.fixture
def loaded(path, rng):
    db = quarn.Database(path, dim=8)
    data = rng.normal(size=(200, 8)).astype(np.float32)
    db.add_many([str(i) for i in range(200)], data, [{"g": i % 5, "s": str(i)} for i in range(200)])
    return db, data


def exercise(db, data, args):
    vector, metadata, where, ids, batch, meta_list = args
    db.upsert("u", vector, metadata)
    db.update("u", vector, metadata)
    db.get("u")
    db.search(vector, k=5, where_filter=where)
    db.search(data[1], k=5, max_distance=10.0)
    db.search_many(batch, k=3, where_filter=where)
    db.search_many(batch.tolist(), k=3)
    db.count(where)
    db.upsert_many(ids, batch, meta_list)
    db.upsert_many(ids, batch.tolist())
    db.delete_many(["not-there"])
    "u" in db
    len(db)
    db.ids()
    db.stats()
    for r in db.search(vector, k=3):
        r.metadata, r[0], list(r), repr(r)
    try:
        db.add("u", vector)
    except ValueError:
        pass
    try:
        db.search(vector, where_filter={"g": {"$bad": 1}})
    except ValueError:
        pass
    try:
        db.add_many(ids, batch, [1] * len(ids))
    except ValueError:
        pass


def test_arguments_are_not_kept_or_leaked(loaded):
    db, data = loaded
    args = ([0.5] * 8, {"g": 1, "tags": ["x"]}, {"g": {"$in": [1, 2]}}, ["m1", "m2"], data[:2].copy(),
            [{"k": 1}, None])
    before = [sys.getrefcount(a) for a in args] + [sys.getrefcount(db)]
    for _ in range(200):
        exercise(db, data, args)
    gc.collect()
    assert [sys.getrefcount(a) for a in args] + [sys.getrefcount(db)] == before


def test_python_allocations_do_not_grow(loaded):
    db, data = loaded
    args = ([0.5] * 8, {"g": 1}, {"g": 2}, ["m1", "m2"], data[:2].copy(), [{"k": 1}, None])
    for _ in range(50):
        exercise(db, data, args)
    gc.collect()
    tracemalloc.start()
    try:
        start, _ = tracemalloc.get_traced_memory()
        for _ in range(scaled(1000, 200)):
            exercise(db, data, args)
        gc.collect()
        end, _ = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert end - start < 256 * 1024


def test_resident_memory_stays_bounded(loaded):
    db, data = loaded
    args = ([0.5] * 8, {"g": 1}, {"g": 2}, ["m1", "m2"], data[:2].copy(), [{"k": 1}, None])
    for _ in range(200):
        exercise(db, data, args)
    gc.collect()
    start = rss_bytes()
    for _ in range(scaled(3000, 500)):
        exercise(db, data, args)
    gc.collect()
    assert rss_bytes() - start < 32 * 1024 * 1024
