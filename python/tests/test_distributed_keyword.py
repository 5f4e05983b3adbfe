"""Keyword, hybrid and document-filtered search on a sharded collection answer as one database
holding the same records: BM25 scored with the whole collection's statistics, equal scores
ordered by id as the sharded vector searches order equal distances."""
import random

import numpy as np
import pytest

ray = pytest.importorskip("ray", reason="Ray is not installed (pip install 'quarn[ray]')")

import quarn  # noqa: E402
from quarn.distributed import ShardedDatabase, shard_of  # noqa: E402
from quarn.distributed._results import order_key  # noqa: E402
from test_keyword import fuse, random_document  # noqa: E402

DIM = 8
N = 240
SHARDS = 3


@pytest.fixture(scope="module", autouse=True)
def cluster():
    ray.init(num_cpus=2, include_dashboard=False, log_to_driver=False)
    yield
    ray.shutdown()


@pytest.fixture(scope="module")
def pair(tmp_path_factory):
    rnd = random.Random(11)
    ids = [f"t{i}" for i in range(N)]
    vectors = np.random.default_rng(11).random((N, DIM)).astype(np.float32)
    # Words of very different frequencies on different shards: per-shard statistics would score
    # the same document differently from shard to shard.
    docs = [random_document(rnd) + (" kiwi" * (shard_of(i, SHARDS) + 1) if n % 4 == 0 else "")
            if n % 9 else None for n, i in enumerate(ids)]
    metas = [{"g": n % 3} for n in range(N)]
    root = tmp_path_factory.mktemp("kw")
    single = quarn.Database(str(root / "single"), dim=DIM, metric="l2")
    sharded = ShardedDatabase(str(root / "sharded"), shards=SHARDS, dim=DIM, metric="l2")
    for db in (single, sharded):
        db.add_many(ids, vectors, metas, documents=docs)
        db.delete_many(ids[::17])
        db.update(ids[5], document="kiwi kiwi lemon")
    yield single, sharded
    sharded.close()
    single.close()


def plain(hits):
    return [(h.id, h.distance, h.metadata, h.document) for h in hits]


def keyword_reference(single, query, k, **params):
    """The single database's keyword hits, every one, equal scores ordered by id, cut to k."""
    return sorted(plain(single.search_keyword(query, k=N, **params)), key=order_key)[:k]


PARAMS = {
    "k=10": dict(k=10),
    "k=1": dict(k=1),
    "k=0": dict(k=0),
    "k above the collection": dict(k=N + 5),
    "metadata filter": dict(k=10, where_filter={"g": 1}),
    "document filter": dict(k=10, where_document={"$not_contains": "apple"}),
    "both filters": dict(k=5, where_filter={"g": {"$ne": 0}}, where_document={"$contains": "fig"}),
}
QUERIES = ["kiwi", "apple fig", "Mango, lemon kiwi", "grape grape olive", "zucchini", ""]


@pytest.mark.parametrize("params", PARAMS.values(), ids=PARAMS.keys())
def test_keyword_search_equals_one_database(pair, params):
    single, sharded = pair
    for query in QUERIES:
        assert plain(sharded.search_keyword(query, **params)) == keyword_reference(single, query, **params), query
    many = sharded.search_keyword_many(QUERIES, **params)
    assert [plain(r) for r in many] == [keyword_reference(single, q, **params) for q in QUERIES]


@pytest.mark.parametrize("fusion, weight", [("rrf", 0.5), ("weighted", 0.3)])
def test_hybrid_search_fuses_the_collection_rankings_as_one_database_does(pair, fusion, weight):
    single, sharded = pair
    rng = np.random.default_rng(4)
    vectors = rng.random((4, DIM)).astype(np.float32)
    queries = ["kiwi apple", "fig", "lemon grape", "olive"]
    expected = []
    for vector, query in zip(vectors, queries):
        vector_hits = single.search(vector, k=8, where_document={"$not_contains": "date"})
        every = single.search_keyword(query, k=N, where_document={"$not_contains": "date"})
        keyword_hits = sorted(every, key=lambda h: order_key((h.id, h.distance)))[:8]
        expected.append(fuse(vector_hits, keyword_hits, 8, fusion, weight))
    got = sharded.search_hybrid_many(vectors, queries, k=8, where_document={"$not_contains": "date"}, fusion=fusion,
                                     weight=weight)
    assert [[h.id for h in r] for r in got] == [[i for i, _ in e] for e in expected]
    for r, e in zip(got, expected):
        assert [-h.distance for h in r] == pytest.approx([s for _, s in e], rel=1e-6)
    one = sharded.search_hybrid(vectors[0], queries[0], k=8, where_document={"$not_contains": "date"}, fusion=fusion,
                                weight=weight)
    assert plain(one) == plain(got[0])


WHERE_DOCUMENT = [{"$contains": "kiwi"}, {"$or": [{"$contains": "fig"}, {"$not_contains": "apple"}]}]


@pytest.mark.parametrize("where_document", WHERE_DOCUMENT)
def test_document_filters_on_vector_search_count_and_ids_equal_one_database(pair, where_document):
    single, sharded = pair
    query = np.random.default_rng(8).random(DIM).astype(np.float32)
    expected = [(h.id, h.distance, h.document)
                for h in single.search(query, k=12, where_document=where_document, include_documents=True)]
    got = sharded.search(query, k=12, where_document=where_document, include_documents=True)
    assert [(h.id, h.distance, h.document) for h in got] == expected
    assert [[h.id for h in r] for r in sharded.search_many([query], k=12, where_document=where_document)] == \
        [[i for i, _, _ in expected]]
    assert sharded.count({"g": 2}, where_document=where_document) == single.count({"g": 2},
                                                                                  where_document=where_document)
    listed = single.ids(where_document=where_document)
    assert sorted(sharded.ids(where_document=where_document)) == sorted(listed)
    assert len(sharded.ids(where_document=where_document, offset=2, limit=5)) == min(5, max(len(listed) - 2, 0))


def test_bad_keyword_arguments_raise_what_one_database_raises(pair):
    single, sharded = pair
    for call in (lambda db: db.search_keyword("kiwi", where_document={"$has": "x"}),
                 lambda db: db.search_keyword_many(["kiwi", 3]),
                 lambda db: db.search_hybrid([0.0] * DIM, "kiwi", fusion="max"),
                 lambda db: db.count(where_document={"$contains": " "})):
        errors = []
        for db in (single, sharded):
            with pytest.raises((ValueError, TypeError)) as raised:
                call(db)
            errors.append((type(raised.value), str(raised.value)))
        assert errors[0] == errors[1]
    assert sharded.search_keyword_many([]) == []


def test_keyword_settings_reach_every_shard_and_are_kept_in_the_manifest(tmp_path):
    root = str(tmp_path / "stemmed")
    ids = [f"c{i}" for i in range(12)]
    docs = ["The cats are running" if i % 2 else "a dog sleeps" for i in range(12)]
    vectors = np.random.default_rng(1).random((12, DIM)).astype(np.float32)
    single = quarn.Database(str(tmp_path / "single"), dim=DIM, keyword={"stemmer": "english", "stop_words": "english"})
    single.add_many(ids, vectors, documents=docs)
    with ShardedDatabase(root, shards=SHARDS, dim=DIM, keyword={"stemmer": "english", "stop_words": "english"}) as db:
        db.add_many(ids, vectors, documents=docs)
        assert db.manifest["keyword"]["stemmer"] == "english"
        assert plain(db.search_keyword("cat runs", k=20)) == keyword_reference(single, "cat runs", 20)
        assert db.search_keyword("the are") == []
    with pytest.raises(ValueError, match="differ from the database's"):
        ShardedDatabase(root, keyword={})
    again = ShardedDatabase(root)
    assert again.keyword == single.keyword
    assert plain(again.search_keyword("cat runs", k=20)) == keyword_reference(single, "cat runs", 20)
    again.close()
    single.close()
    plain_root = str(tmp_path / "plain")
    ShardedDatabase(plain_root, shards=2, dim=DIM).close()
    reopened = ShardedDatabase(plain_root)
    assert "keyword" not in reopened.manifest  # a collection without settings keeps its old manifest
    reopened.close()
