"""Documents on a sharded collection: written, replaced, cleared, read back, returned by searches
and restored by a rolled-back batch exactly as one database holding the same records does."""
import numpy as np
import pytest

ray = pytest.importorskip("ray", reason="Ray is not installed (pip install 'quarn[ray]')")

import quarn  # noqa: E402
from quarn.distributed import ShardedDatabase, shard_of  # noqa: E402

DIM = 8
N = 90
SHARDS = 3


@pytest.fixture(scope="module", autouse=True)
def cluster():
    ray.init(num_cpus=2, include_dashboard=False, log_to_driver=False)
    yield
    ray.shutdown()


def corpus(n=N, seed=3):
    rng = np.random.default_rng(seed)
    ids = [f"d{i}" for i in range(n)]
    vectors = rng.normal(size=(n, DIM)).astype(np.float32)
    words = ["red fox", "blue whale", "grüne Wiese", "", "ünïcödé ✓", "x" * 300]
    documents = [None if i % 5 == 0 else f"{words[i % len(words)]} {i}" for i in range(n)]
    return ids, vectors, documents


# Each step runs on both sides; the documents must then read back the same.
STEPS = [
    ("add", lambda v: ("new-a", v[0], {"k": 1}, "first text")),
    ("add", lambda v: ("new-b", v[1], None, None)),
    ("upsert", lambda v: ("d1", v[2], None, "replaced by upsert")),
    ("upsert", lambda v: ("d2", v[3])),  # no document: the upsert clears it
    ("update", lambda v: ("d3",), {"document": "set by update"}),
    ("update", lambda v: ("d4",), {"document": None}),
    ("update", lambda v: ("d6", v[4]), {}),  # document omitted: kept
    ("update", lambda v: ("d7",), {"document": ...}),
    ("upsert_many", lambda v: (["d8", "new-c", "d9"], v[5:8]), {"documents": ["eight", "c", None]}),
    ("add_many", lambda v: (["new-d", "new-e"], v[8:10], [None, {"z": 2}]), {"documents": [None, "e"]}),
    ("delete", lambda v: ("d11",)),
]


@pytest.fixture(scope="module")
def pair(tmp_path_factory):
    ids, vectors, documents = corpus()
    root = tmp_path_factory.mktemp("docs")
    single = quarn.Database(str(root / "single"), dim=DIM, metric="l2")
    sharded = ShardedDatabase(str(root / "sharded"), shards=SHARDS, dim=DIM, metric="l2")
    extra = np.random.default_rng(11).normal(size=(10, DIM)).astype(np.float32)
    for db in (single, sharded):
        db.add_many(ids, vectors, documents=documents)
        for method, make, *kwargs in STEPS:
            getattr(db, method)(*make(extra), **(kwargs[0] if kwargs else {}))
    yield single, sharded
    sharded.close()
    single.close()


def test_documents_read_back_as_one_database_holds_them(pair):
    single, sharded = pair
    ids = sorted(single.ids())
    assert sorted(sharded.ids()) == ids
    assert sharded.get_many(ids, include_documents=True)[2] == single.get_many(ids, include_documents=True)[2]
    # without the flag the answer keeps its two-item shape
    assert len(sharded.get_many(ids[:3])) == 2


@pytest.mark.parametrize("k", [1, 7, N + 20])
def test_searches_return_the_documents_of_their_hits(pair, k):
    single, sharded = pair
    queries = np.random.default_rng(k).normal(size=(4, DIM)).astype(np.float32)
    # Scans over other blocks of rows round distances in the last bits: ids, order and documents
    # must agree, distances nearly.
    want = single.search_many(queries, k=k, include_documents=True)
    got = sharded.search_many(queries, k=k, include_documents=True)
    assert [[(h.id, h.document) for h in hits] for hits in got] == [[(h.id, h.document) for h in hits] for hits in want]
    assert [h.distance for hits in got for h in hits] == pytest.approx([h.distance for hits in want for h in hits],
                                                                       rel=1e-5)
    one = sharded.search(queries[0], k=k, include_documents=True)
    assert [(h.id, h.document) for h in one] == [(h.id, h.document) for h in want[0]]
    # the hit still unpacks as (id, distance, metadata), and without the flag has no document
    hit_id, _, _ = one[0]
    assert hit_id == one[0].id
    assert all(h.document is None for h in sharded.search(queries[0], k=k))


BAD = {
    "a document that is not a str": ("add_many", {"documents": ["ok", 5]}, ValueError),
    "documents of another length": ("upsert_many", {"documents": ["ok"]}, ValueError),
    "a lone surrogate": ("add_many", {"documents": ["ok", "bad \ud800"]}, ValueError),
}


@pytest.mark.parametrize("case", BAD.values(), ids=BAD.keys())
def test_bad_documents_are_refused_as_one_database_refuses_them(pair, case):
    single, sharded = pair
    method, kwargs, error = case
    vectors = np.zeros((2, DIM), np.float32)
    messages = []
    for db in (single, sharded):
        with pytest.raises(error) as raised:
            getattr(db, method)(["bad-1", "bad-2"], vectors, **kwargs)
        messages.append(str(raised.value))
        assert "bad-1" not in db and "bad-2" not in db
    assert messages[0] == messages[1]


@pytest.mark.parametrize("method", ["upsert_many", "delete_many"])
def test_a_rolled_back_batch_restores_the_documents_it_replaced(tmp_path, method):
    ids, vectors, documents = corpus(30)
    with ShardedDatabase(str(tmp_path / "db"), shards=SHARDS, dim=DIM) as db:
        db.add_many(ids, vectors, documents=documents)
        before = db.get_many(ids, include_documents=True)[2]
        victims = [next(i for i in ids if shard_of(i, SHARDS) == s) for s in range(SHARDS)]
        db._inject_fault(2, method, ValueError("disk full"))
        args = (victims,) if method == "delete_many" else (victims, np.ones((SHARDS, DIM), np.float32))
        kwargs = {} if method == "delete_many" else {"documents": ["changed"] * SHARDS}
        with pytest.raises(ValueError, match="nothing was written"):
            getattr(db, method)(*args, **kwargs)
        assert db.get_many(ids, include_documents=True)[2] == before
