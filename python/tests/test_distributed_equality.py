"""A sharded collection answers as one database holding the same records: searches, counts,
bulk reads, listings and errors, with equal distances ordered by id."""
import math
import pickle

import numpy as np
import pytest

ray = pytest.importorskip("ray", reason="Ray is not installed (pip install 'quarn[ray]')")

import quarn  # noqa: E402
from quarn import distributed  # noqa: E402
from quarn.distributed import ShardedDatabase, shard_of  # noqa: E402
from quarn.distributed._results import order_key  # noqa: E402

DIM = 16
N = 600
SHARDS = 3


@pytest.fixture(scope="module", autouse=True)
def cluster():
    ray.init(num_cpus=2, include_dashboard=False, log_to_driver=False)
    yield
    ray.shutdown()


def records(n=N, seed=7):
    """Records whose last quarter repeats the vectors of the first: every query near those meets ties."""
    rng = np.random.default_rng(seed)
    vectors = rng.normal(size=(n, DIM)).astype(np.float32)
    vectors[n - n // 4:] = vectors[:n // 4]
    ids = [f"doc-{i}" for i in range(n)]
    colors = ["red", "green", "blue"]
    metadatas = [{"n": i, "color": colors[i % 3]} if i % 7 else None for i in range(n)]
    return ids, vectors, metadatas


@pytest.fixture(scope="module")
def pair(tmp_path_factory):
    """A sharded collection and a single database holding the same records."""
    ids, vectors, metadatas = records()
    root = tmp_path_factory.mktemp("pair")
    single = quarn.Database(str(root / "single"), dim=DIM, metric="l2")
    single.add_many(ids, vectors, metadatas)
    sharded = ShardedDatabase(str(root / "sharded"), shards=SHARDS, dim=DIM, metric="l2")
    sharded.add_many(ids, vectors, metadatas)
    yield single, sharded, vectors
    sharded.close()


def plain(hits):
    return [(h.id, h.distance, h.metadata) for h in hits]


def reference(single, query, k, **params):
    """The single database's hits, every one of them, ordered with equal distances by id, cut to k."""
    every = plain(single.search(query, k=N, **params))
    assert sorted(h[1] for h in every[:k]) == [h.distance for h in single.search(query, k=k, **params)]
    return sorted(every, key=order_key)[:k]


def by_shard(ids):
    """The order of a sharded listing: shard by shard, each keeping the single database's order."""
    return sorted(ids, key=lambda i: shard_of(i, SHARDS))


SEARCHES = {
    "k=10": dict(k=10),
    "k=1": dict(k=1),
    "k=0": dict(k=0),
    "k above the collection": dict(k=N + 50),
    "filter on a value": dict(k=10, where_filter={"color": "red"}),
    "filter on a range": dict(k=10, where_filter={"n": {"$lt": 40}}),
    "filter matching nothing": dict(k=10, where_filter={"color": "violet"}),
    "selective filter, large k": dict(k=200, where_filter={"n": {"$gte": 550}}),
    "max_distance": dict(k=50, max_distance=20.0),
    "max_distance with filter": dict(k=20, where_filter={"color": {"$ne": "blue"}}, max_distance=24.0),
    "max_distance below every hit": dict(k=10, max_distance=0.5),
}


def queries(vectors):
    rng = np.random.default_rng(11)
    # Stored vectors (some stored twice: a tie at distance 0), near ones, and random ones.
    return np.ascontiguousarray(np.vstack([vectors[[3, 160, 450, 599]], vectors[[20, 400]] + 0.1,
                                           rng.normal(size=(3, DIM))]).astype(np.float32))


@pytest.mark.parametrize("params", SEARCHES.values(), ids=SEARCHES.keys())
def test_search_equals_a_single_database(pair, params):
    single, sharded, vectors = pair
    batch = queries(vectors)
    k = params["k"]
    expected = [reference(single, q, **params) for q in batch]
    for query, hits in zip(batch, expected):
        assert plain(sharded.search(query, **params)) == hits
    assert [plain(r) for r in sharded.search_many(batch, **params)] == expected

    found = sharded.search_many_arrays(batch, **params)
    again = single.search_many_arrays(batch, **params)
    assert isinstance(found, quarn.SearchArrays)
    assert found.ids.shape == again.ids.shape and found.distances.dtype == again.distances.dtype
    np.testing.assert_array_equal(found.counts, again.counts)
    np.testing.assert_array_equal(found.distances, again.distances)
    width = min(k, N)
    longest = max([len(h[0]) for hits in expected for h in hits], default=1)
    assert found.ids.dtype == np.dtype(f"<U{longest}")
    assert found.ids.tolist() == [[h[0] for h in hits] + [""] * (width - len(hits)) for hits in expected]


def test_batch_forms_search_alike(pair):
    single, sharded, vectors = pair
    batch = queries(vectors)
    expected = [[h[0] for h in reference(single, q, k=5)] for q in batch]
    for form in [batch.tolist(), batch.astype(np.float64), np.asfortranarray(batch), batch[:0], [list(batch[0])]]:
        assert [[h.id for h in r] for r in sharded.search_many(form, k=5)] == expected[:len(form)]
        assert sharded.search_many_arrays(form, k=5).ids.tolist() == expected[:len(form)]


GET_MANY = {
    "ids over every shard": [f"doc-{i}" for i in (5, 590, 7, 33, 100, 451)],
    "an id given twice": ["doc-9", "doc-10", "doc-9"],
    "one id": ["doc-42"],
    "no ids": [],
    "a tuple": ("doc-1", "doc-2"),
}


@pytest.mark.parametrize("ids", GET_MANY.values(), ids=GET_MANY.keys())
@pytest.mark.parametrize("include_vectors", [True, False])
def test_get_many_equals_a_single_database(pair, ids, include_vectors):
    single, sharded, _ = pair
    vectors, metadatas = sharded.get_many(ids, include_vectors=include_vectors)
    expected_vectors, expected_metadatas = single.get_many(ids, include_vectors=include_vectors)
    assert metadatas == expected_metadatas
    if include_vectors:
        assert vectors.dtype == np.float32 and vectors.shape == expected_vectors.shape
        np.testing.assert_array_equal(vectors, expected_vectors)
    else:
        assert vectors is None


LISTINGS = [
    # (where, limit, offset)
    (None, None, 0), ({"color": "red"}, None, 0), (None, 10, 0), (None, 10, 195), (None, 500, 150),
    ({"n": {"$gte": 100, "$lt": 300}}, 25, 40), ({"color": "green"}, None, 150), ({"color": "violet"}, 5, 0),
    (None, 0, 0), (None, 5, N), (None, None, N + 10),
]


@pytest.mark.parametrize("where, limit, offset", LISTINGS)
def test_ids_list_the_single_databases_ids_shard_by_shard(pair, where, limit, offset):
    single, sharded, _ = pair
    listed = sharded.ids(where=where, limit=limit, offset=offset)
    every = by_shard(single.ids(where=where))
    assert listed == every[offset:None if limit is None else offset + limit]
    assert sharded.ids(where, limit, offset) == listed


@pytest.mark.parametrize("batch_size, include_vectors", [(1024, True), (7, False), (1, True)])
def test_iteration_yields_the_single_databases_records(pair, batch_size, include_vectors):
    single, sharded, _ = pair
    expected = {r.id: r for r in single}
    got = list(sharded.records(batch_size=batch_size, include_vectors=include_vectors))
    assert [r.id for r in got] == by_shard(single.ids())
    for record in got:
        assert isinstance(record, quarn.Record) and record.metadata == expected[record.id].metadata
        if include_vectors:
            np.testing.assert_array_equal(record.vector, expected[record.id].vector)
        else:
            assert record.vector is None
    assert [r.id for r in sharded] == [r.id for r in got]


@pytest.mark.parametrize("where_filter", [None, {"color": "red"}, {"n": {"$gte": 100, "$lt": 300}}, {"n": -1}])
def test_counts_and_records_equal_a_single_database(pair, where_filter):
    single, sharded, _ = pair
    assert sharded.count(where_filter) == single.count(where_filter)
    assert len(sharded) == len(single) == N
    for id_ in ["doc-0", "doc-7", "doc-599"]:
        assert sharded.get(id_) == single.get(id_)
        assert id_ in sharded
    assert "doc-600" not in sharded
    totals = sharded.stats()["totals"]
    assert (totals["num_vectors"], totals["num_deleted"], totals["uses_brute_force"]) == (N, 0, True)
    assert sum(s["num_vectors"] for s in sharded.stats()["shards"]) == N


Q = [0.0] * DIM
ERRORS_LIKE_A_DATABASE = {
    "query of the wrong length": ("search", ([0.0] * (DIM - 1),), {}),
    "one query of the wrong length": ("search_many", ([Q, [0.0] * 3],), {}),
    "arrays: one query of the wrong length": ("search_many_arrays", ([Q, [0.0] * 3],), {}),
    "arrays: k that is not an int": ("search_many_arrays", ([Q],), {"k": 2.5}),
    "arrays: filter that is not a dict": ("search_many_arrays", ([Q],), {"where_filter": [1]}),
    "unknown filter operator": ("search", (Q,), {"where_filter": {"n": {"$regex": 1}}}),
    "filter that is not a dict": ("count", ([1],), {}),
    "negative k": ("search", (Q,), {"k": -1}),
    "negative k in a batch": ("search_many", ([Q],), {"k": -1}),
    "string rows": ("search_many", ([["1"] * DIM],), {}),
    "add of an existing id": ("add", ("doc-3", Q), {}),
    "add of an id that is not a str": ("add", (3, Q), {}),
    "add of a vector of the wrong length": ("add", ("x", [0.0] * 3), {}),
    "update of a missing id": ("update", ("nope", Q), {}),
    "get of a missing id": ("get", ("nope",), {}),
    "get of an id that is not a str": ("get", (b"doc-1",), {}),
    "delete of an id that is not a str": ("delete", (None,), {}),
    "batch of another length": ("add_many", (["x", "y"], [Q]), {}),
    "an id given twice in a batch": ("add_many", (["x", "y", "x"], [Q] * 3), {}),
    "an id that is not a str in a batch": ("add_many", (["x", 7], [Q] * 2), {}),
    "ids given as one str": ("delete_many", ("doc-1",), {}),
    "metadata that is not a dict": ("upsert_many", (["x"], [Q], ["color"]), {}),
    "metadata with NaN": ("upsert_many", (["x"], [Q], [{"v": math.nan}]), {}),
    "metadatas as a tuple": ("upsert_many", (["x"], [Q], ({},)), {}),
    "infinite component in a batch": ("add_many", (["x", "y"], [Q, [0.0] * 5 + [-math.inf] * 11]), {}),
    "complex batch": ("upsert_many", (["x"], np.ones((1, DIM), np.complex64)), {}),
    "get_many of a missing id": ("get_many", (["doc-1", "doc-2", "nope", "doc-4", "gone"],), {}),
    "get_many of a missing id on another shard": ("get_many", (["doc-1", "doc-599", "gone", "nope"],), {}),
    "get_many of an id that is not a str": ("get_many", (["doc-1", 2],), {}),
    "get_many with include_vectors not a bool": ("get_many", (["doc-1"],), {"include_vectors": "yes"}),
    "ids with a negative limit": ("ids", (), {"limit": -1}),
    "ids with a negative offset": ("ids", (), {"offset": -3}),
    "ids with a bad filter": ("ids", ({"n": {"$gt": "a"}},), {}),
    "records in batches of 0": ("records", (0,), {}),
}


@pytest.mark.parametrize("method, args, kwargs", ERRORS_LIKE_A_DATABASE.values(), ids=ERRORS_LIKE_A_DATABASE.keys())
def test_errors_are_those_of_a_single_database(pair, method, args, kwargs):
    single, sharded, _ = pair

    def call(db):
        answer = getattr(db, method)(*args, **kwargs)
        return list(answer) if method == "records" else answer

    with pytest.raises(Exception) as expected:
        call(single)
    with pytest.raises(type(expected.value)) as raised:
        call(sharded)
    if not isinstance(expected.value, OverflowError):
        assert str(raised.value) == str(expected.value)
    assert len(sharded) == N


def test_membership_of_a_non_str_is_answered_like_a_single_database(pair):
    single, sharded, _ = pair
    for key in [3, None, b"doc-1"]:
        try:
            expected = key in single
        except Exception as error:  # noqa: BLE001
            with pytest.raises(type(error), match=str(error)):
                key in sharded
        else:
            assert (key in sharded) == expected


def test_public_names_pickle_by_their_public_place():
    names = [distributed.ShardedDatabase, distributed.SearchResult, distributed.ShardError,
             distributed.ShardUnavailableError, distributed.PartialWriteError]
    for cls in names:
        assert cls.__module__ == "quarn.distributed" and pickle.loads(pickle.dumps(cls)) is cls
    hit = distributed.SearchResult("a", 0.5, {"n": 1})
    assert pickle.loads(pickle.dumps(hit)) == hit
    error = pickle.loads(pickle.dumps(distributed.PartialWriteError("partly", ["a"], ["b"], ["c"])))
    assert (str(error), error.written, error.not_written, error.unknown) == ("partly", ["a"], ["b"], ["c"])
