"""Document filters on every search, count and ids, and the batch forms of keyword and hybrid
search, checked against references computed here from the records' documents."""
import random

import numpy as np
import pytest

import quarn
from test_keyword import WORDS, bm25_reference, fuse, random_document, random_writes, terms

DIM = 6
N = 150


def holds(document, value):
    """The reference of $contains: the document has every term of the value."""
    return document is not None and set(terms(value)) <= set(terms(document))


# where_document -> predicate on a document
CASES = {
    "contains one word": ({"$contains": "apple"}, lambda d: holds(d, "apple")),
    "contains two words, any order, any case": ({"$contains": "Fig APPLE"}, lambda d: holds(d, "fig apple")),
    "contains a word held by nobody": ({"$contains": "zucchini"}, lambda d: False),
    "not_contains (records without a document match)": ({"$not_contains": "berry"}, lambda d: not holds(d, "berry")),
    "and": ({"$and": [{"$contains": "cherry"}, {"$not_contains": "date"}]},
            lambda d: holds(d, "cherry") and not holds(d, "date")),
    "or": ({"$or": [{"$contains": "kiwi"}, {"$contains": "lemon mango"}]},
           lambda d: holds(d, "kiwi") or holds(d, "lemon mango")),
    "nested": ({"$or": [{"$and": [{"$contains": "fig"}, {"$contains": "grape"}]}, {"$not_contains": "apple"}]},
               lambda d: (holds(d, "fig") and holds(d, "grape")) or not holds(d, "apple")),
    "two operators in one dict join by and": ({"$contains": "apple", "$not_contains": "berry"},
                                              lambda d: holds(d, "apple") and not holds(d, "berry")),
}


@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    """A database after a batch and random writes, and its model: id -> (document, metadata)."""
    rnd = random.Random(5)
    db = quarn.Database(str(tmp_path_factory.mktemp("wd") / "db"), dim=DIM, metric="l2")
    ids = [f"s{i}" for i in range(N)]
    docs = [random_document(rnd) if i % 6 else None for i in range(N)]
    metas = [{"g": i % 3} for i in range(N)]
    db.add_many(ids, np.random.default_rng(5).random((N, DIM)), metas, documents=docs)
    model = {i: (d, m) for i, d, m in zip(ids, docs, metas)}
    random_writes(db, model, rnd, 80, DIM)
    yield db, model
    db.close()


def matching(model, pred, meta_pred=lambda m: True):
    return [i for i, (d, m) in model.items() if pred(d) and meta_pred(m)]


@pytest.mark.parametrize("case", CASES.values(), ids=CASES.keys())
def test_count_and_ids_keep_the_records_the_reference_keeps(corpus, case):
    db, model = corpus
    where_document, pred = case
    expected = matching(model, pred)
    assert db.count(where_document=where_document) == len(expected)
    assert db.ids(where_document=where_document) == expected
    assert db.ids(where_document=where_document, offset=3, limit=5) == expected[3:8]
    both = matching(model, pred, lambda m: m["g"] == 1)
    assert db.count({"g": 1}, where_document=where_document) == len(both)
    assert db.ids({"g": 1}, where_document=where_document) == both


@pytest.mark.parametrize("case", CASES.values(), ids=CASES.keys())
def test_vector_searches_return_the_nearest_records_the_filter_keeps(corpus, case):
    db, model = corpus
    where_document, pred = case
    queries = np.random.default_rng(9).random((3, DIM))
    for where_filter, meta_pred in ((None, lambda m: True), ({"g": {"$ne": 2}}, lambda m: m["g"] != 2)):
        keep = set(matching(model, pred, meta_pred))
        singles = []
        for q in queries:
            every = [h.id for h in db.search(q, k=len(model))]
            hits = db.search(q, k=7, where_filter=where_filter, where_document=where_document, include_documents=True)
            assert [h.id for h in hits] == [i for i in every if i in keep][:7]
            assert all(h.document == model[h.id][0] for h in hits)
            singles.append(hits)
        many = db.search_many(queries, k=7, where_filter=where_filter, where_document=where_document)
        assert [[h.id for h in r] for r in many] == [[h.id for h in r] for r in singles]


@pytest.mark.parametrize("case", CASES.values(), ids=CASES.keys())
def test_keyword_search_scores_by_the_whole_collection_and_keeps_what_the_filter_keeps(corpus, case):
    db, model = corpus
    where_document, pred = case
    keep = set(matching(model, pred))
    for query in ["apple", "fig grape", "kiwi lemon mango", "berry cherry date"]:
        # Filters choose among the documents; BM25's statistics stay those of every document.
        expected = [(i, s) for i, s in bm25_reference(model, query) if i in keep][:8]
        hits = db.search_keyword(query, k=8, where_document=where_document)
        assert [-h.distance for h in hits] == pytest.approx([s for _, s in expected], rel=1e-5)
        assert {h.id for h in hits} <= keep
        scores = [s for _, s in expected]
        for r, (i, s) in enumerate(expected):
            if all(abs(s - o) > 1e-6 * s for j, o in enumerate(scores) if j != r):
                assert hits[r].id == i


@pytest.mark.parametrize("fusion", ["rrf", "weighted"])
def test_hybrid_fuses_both_sides_under_the_same_document_filter(corpus, fusion):
    db, model = corpus
    rng = np.random.default_rng(3)
    for where_document, _ in list(CASES.values())[:5]:
        vector = rng.random(DIM)
        query = "apple fig kiwi"
        expected = fuse(db.search(vector, k=6, where_document=where_document),
                        db.search_keyword(query, k=6, where_document=where_document), 6, fusion, 0.3)
        hits = db.search_hybrid(vector, query, k=6, where_document=where_document, fusion=fusion, weight=0.3)
        assert [h.id for h in hits] == [i for i, _ in expected]


def test_batch_forms_answer_as_the_single_calls(corpus):
    db, _ = corpus
    rnd = random.Random(2)
    queries = [" ".join(rnd.sample(WORDS, rnd.randint(1, 3))) for _ in range(25)] + ["", "the zucchini"]
    vectors = np.random.default_rng(2).random((len(queries), DIM))
    for params in ({}, {"k": 3, "where_filter": {"g": 0}}, {"k": 50, "where_document": {"$not_contains": "fig"}}):
        many = db.search_keyword_many(queries, **params)
        assert [[(h.id, h.distance, h.document) for h in r] for r in many] == \
            [[(h.id, h.distance, h.document) for h in db.search_keyword(q, **params)] for q in queries]
        many = db.search_hybrid_many(vectors, queries, fusion="weighted", **params)
        assert [[(h.id, h.distance) for h in r] for r in many] == \
            [[(h.id, h.distance) for h in db.search_hybrid(v, q, fusion="weighted", **params)]
             for v, q in zip(vectors, queries)]
    assert db.search_keyword_many([]) == []
    with pytest.raises(ValueError, match="vectors and queries differ in length: 2 vectors, 1 queries"):
        db.search_hybrid_many(vectors[:2], queries[:1])
    with pytest.raises(ValueError, match="dimension mismatch"):
        db.search_hybrid_many([[0.0]], ["apple"])


BAD = {
    "not a dict": ("apple", "expected a dict"),
    "empty dict": ({}, "an empty dict holds no condition"),
    "unknown operator": ({"$has": "apple"}, r"unknown operator '\$has'"),
    "a metadata-style field": ({"text": "apple"}, r"unknown operator 'text'"),
    "value not a str": ({"$contains": 3}, r"\$contains value must be a str, not 'int'"),
    "and of a non-list": ({"$and": {"$contains": "a"}}, r"\$and value must be a non-empty list"),
    "or of an empty list": ({"$or": []}, r"\$or value must be a non-empty list"),
    "branch not a dict": ({"$and": ["apple"]}, "expected a dict"),
    "value without words": ({"$contains": " ,;"}, "needs at least one word"),
    "empty value": ({"$not_contains": ""}, "needs at least one word"),
}


@pytest.mark.parametrize("where_document, message", BAD.values(), ids=BAD.keys())
def test_malformed_document_filters_are_refused_by_every_call(corpus, where_document, message):
    db, _ = corpus
    calls = [
        lambda: db.search([0.0] * DIM, where_document=where_document),
        lambda: db.search_many([[0.0] * DIM], where_document=where_document),
        lambda: db.search_keyword("apple", where_document=where_document),
        lambda: db.search_keyword_many(["apple"], where_document=where_document),
        lambda: db.search_hybrid([0.0] * DIM, "apple", where_document=where_document),
        lambda: db.count(where_document=where_document),
        lambda: db.ids(where_document=where_document),
    ]
    for call in calls:
        with pytest.raises(ValueError, match=message):
            call()


def test_document_filters_follow_writes_deletes_and_compaction(tmp_path):
    db = quarn.Database(str(tmp_path / "db"), dim=2)
    db.add_many(["a", "b", "c"], [[1, 0], [0, 1], [1, 1]], documents=["red fox", "blue fox", None])
    assert db.ids(where_document={"$contains": "fox"}) == ["a", "b"]
    db.update("c", document="grey fox")
    db.delete("a")
    db.update("b", document="blue whale")
    assert db.ids(where_document={"$contains": "fox"}) == ["c"]
    assert db.ids(where_document={"$not_contains": "fox"}) == ["b"]
    db.compact()
    assert db.ids(where_document={"$contains": "fox"}) == ["c"]
    assert [h.id for h in db.search([0, 1], where_document={"$not_contains": "whale"})] == ["c"]
    db.close()
