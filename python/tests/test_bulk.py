"""Bulk reads, NumPy results and input layouts, checked against single-record calls and NumPy."""
import pathlib

import numpy as np
import pytest

import quarn


@pytest.fixture
def filled(path, rng):
    db = quarn.Database(path, dim=8, metric="l2")
    vectors = rng.normal(size=(60, 8)).astype(np.float32)
    ids = [f"r{i}" for i in range(60)]
    ids[7] = "ünï-çødé"  # ids travel as UTF-8 in the engine and UTF-32 in NumPy
    metadatas = [{"n": i} if i % 3 else None for i in range(60)]
    db.add_many(ids, vectors, metadatas)
    return db, ids, vectors, metadatas


def test_get_many_matches_get_row_by_row(filled):
    db, ids, vectors, metadatas = filled
    order = [ids[5], ids[0], ids[7], ids[5]]  # any order, repeats allowed
    block, meta = db.get_many(order)
    assert block.dtype == np.float32 and block.shape == (4, 8) and block.flags.c_contiguous
    for row, id_ in enumerate(order):
        vector, metadata = db.get(id_)
        assert block[row].tolist() == vector and meta[row] == metadata
    none, meta_only = db.get_many(order, include_vectors=False)
    assert none is None and meta_only == meta
    empty, nothing = db.get_many([])
    assert empty.shape == (0, 8) and nothing == []


def test_get_many_names_the_missing_id_and_its_position(filled):
    db, ids, _, _ = filled
    with pytest.raises(ValueError, match=r"^ids\[2\]: id 'nope' not found$"):
        db.get_many([ids[0], ids[1], "nope", "other"])


@pytest.mark.parametrize("k, where, max_distance", [
    (5, None, None),
    (200, None, None),          # more than the collection holds: columns shrink to its size
    (10, {"n": {"$lt": 9}}, None),  # fewer matches than k: rows padded
    (10, None, 12.0),
    (3, {"n": -1}, None),       # nothing matches
])
def test_search_many_arrays_holds_what_search_many_returns(filled, rng, k, where, max_distance):
    db, _, vectors, _ = filled
    queries = np.vstack([vectors[:3], rng.normal(size=(2, 8)).astype(np.float32)])
    lists = db.search_many(queries, k=k, where_filter=where, max_distance=max_distance)
    ids, distances, counts = db.search_many_arrays(queries, k=k, where_filter=where, max_distance=max_distance)
    assert ids.shape == distances.shape == (5, min(k, len(db))) and counts.shape == (5,)
    assert distances.dtype == np.float32 and counts.dtype == np.int64 and ids.dtype.kind == "U"
    for row, hits in enumerate(lists):
        n = len(hits)
        assert counts[row] == n
        assert ids[row, :n].tolist() == [h.id for h in hits]
        assert distances[row, :n].tolist() == [np.float32(h.distance) for h in hits]
        assert (ids[row, n:] == "").all() and np.isinf(distances[row, n:]).all()


def test_search_many_arrays_result_is_a_named_tuple(filled):
    db, _, vectors, _ = filled
    result = db.search_many_arrays(vectors[:2], k=1)
    assert isinstance(result, quarn.SearchArrays)
    assert result.ids[:, 0].tolist() == [db.search(v, k=1)[0].id for v in vectors[:2]]
    empty = db.search_many_arrays(np.zeros((0, 8), np.float32), k=4)
    assert empty.ids.shape == (0, 4) and empty.counts.shape == (0,)


def test_include_vectors_returns_the_stored_vectors(filled):
    db, ids, vectors, _ = filled
    hits = db.search(vectors[7], k=3, include_vectors=True)
    assert hits[0].id == ids[7]
    for hit in hits:
        assert hit.vector.dtype == np.float32 and hit.vector.tolist() == db.get(hit.id)[0]
    assert all(h.vector is None for h in db.search(vectors[7], k=3))
    lists = db.search_many(vectors[:2], k=2, include_vectors=True)
    assert [[h.vector.tolist() for h in hits] for hits in lists] == \
        [[db.get(h.id)[0] for h in hits] for hits in lists]


def test_iteration_yields_every_record_once(filled):
    db, ids, vectors, metadatas = filled
    seen = {record.id: record for record in db}
    assert sorted(seen) == sorted(ids)
    for i, id_ in enumerate(ids):
        assert seen[id_].vector.tolist() == vectors[i].tolist() and seen[id_].metadata == metadatas[i]
    small = list(db.records(batch_size=7, include_vectors=False))
    assert [r.id for r in small] == db.ids() and all(r.vector is None for r in small)
    with pytest.raises(ValueError, match="batch_size must be at least 1"):
        list(db.records(batch_size=0))


def test_iteration_skips_records_deleted_meanwhile(filled):
    db, ids, _, _ = filled
    records = db.records(batch_size=10)
    next(records)  # the first batch of 10 is read now
    doomed = db.ids()[10:25]
    db.delete_many(doomed)
    rest = [r.id for r in records]
    assert not set(rest) & set(doomed) and len(rest) + 1 == len(db)


class FsPath:
    def __init__(self, path):
        self.path = path

    def __fspath__(self):
        return self.path


@pytest.mark.parametrize("make", [str, pathlib.Path, pathlib.PurePosixPath, FsPath, lambda p: p.encode()],
                         ids=["str", "Path", "PurePosixPath", "__fspath__", "bytes"])
def test_any_path_like_opens_the_same_directory(path, make):
    with quarn.Database(make(path), dim=2) as db:
        db.add("a", [1, 2])
        assert db.path == path
    assert quarn.Database(make(path), read_only=True).get("a")[0] == [1.0, 2.0]


BASE = np.arange(24, dtype=np.float64).reshape(4, 6) / 7 + 1


@pytest.mark.parametrize("array", [
    BASE.astype(np.float32),
    np.asfortranarray(BASE.astype(np.float32)),
    BASE,
    BASE.astype(np.float16),
    BASE.astype(np.longdouble),
    BASE.astype(">f4"),                          # big-endian
    np.repeat(BASE.astype(np.float32), 2, axis=1)[:, ::2],   # strided columns
    np.repeat(BASE, 2, axis=0).astype(np.float32)[::2],       # strided rows
    (BASE * 7).astype(np.int32),
    (BASE * 7).astype(np.uint8),
], ids=["f4-C", "f4-F", "f8", "f2", "longdouble", ">f4", "col-stride", "row-stride", "i4", "u1"])
def test_batch_arrays_of_any_layout_and_real_dtype_store_their_float32_values(path, array):
    db = quarn.Database(path, dim=6, metric="l2")
    expected = np.asarray(array, dtype=np.float32)
    ids = [str(i) for i in range(4)]
    db.add_many(ids, array)
    assert db.get_many(ids)[0].tolist() == expected.tolist()
    for row, hits in enumerate(db.search_many(array, k=1)):
        assert hits[0].id == str(row) and abs(hits[0].distance) < 1e-3
    db.upsert_many(ids, array[::-1])
    assert db.get_many(ids)[0].tolist() == expected[::-1].tolist()
    assert db.get(ids[0])[0] == db.get_many(ids[:1])[0][0].tolist()
    single = quarn.Database(path + "-single", dim=6)
    single.add("x", array[1])
    assert single.get("x")[0] == expected[1].tolist()


@pytest.mark.filterwarnings("ignore:overflow encountered in cast")
def test_batch_array_conversions_keep_refusing_complex_and_non_finite(db):
    with pytest.raises(ValueError, match="not complex"):
        db.add_many(["a"], np.ones((1, 3), np.complex64))
    with pytest.raises(ValueError, match=r"^vectors\[1\]: vector components must be finite: component 0 is inf$"):
        db.add_many(["a", "b"], np.array([[1, 2, 3], [1e300, 0, 0]]))
    assert len(db) == 0
