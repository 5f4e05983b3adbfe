"""Keyword search (BM25 over the documents) and hybrid search, checked against a reference
computed here from the records' documents."""
import math
import random
import re

import numpy as np
import pytest

import quarn

WORDS = ["apple", "berry", "cherry", "date", "elder", "fig", "grape", "honeydew", "kiwi", "lemon", "mango", "olive"]


def terms(text):
    # The tokenizer on ASCII text: runs of letters and digits, case-folded.
    return re.findall(r"[a-z0-9]+", text.lower())


def bm25_reference(documents, query, where=lambda meta: True, k1=1.2, b=0.75):
    """(id, score) of every matching document the query reaches, best first, ties in slot order.
    `documents` maps id -> (document, metadata) in slot order."""
    lengths = {i: len(terms(d)) for i, (d, _) in documents.items() if d is not None and terms(d)}
    n_docs = len(lengths)
    if n_docs == 0:
        return []
    average = sum(lengths.values()) / n_docs
    query_terms = list(dict.fromkeys(terms(query)))
    freq = {t: sum(1 for i in lengths if t in terms(documents[i][0])) for t in query_terms}
    scored = []
    for slot, (i, (doc, meta)) in enumerate(documents.items()):
        if i not in lengths or not where(meta):
            continue
        words = terms(doc)
        score = 0.0
        for t in query_terms:
            tf = words.count(t)
            if tf:
                idf = math.log(1 + (n_docs - freq[t] + 0.5) / (freq[t] + 0.5))
                score += idf * tf * (k1 + 1) / (tf + k1 * (1 - b + b * lengths[i] / average))
        if score > 0:
            scored.append((-score, slot, i))
    scored.sort()
    return [(i, -s) for s, _, i in scored]


def check_top_k(db, model, query, k, where_filter=None, where=lambda meta: True):
    expected = bm25_reference(model, query, where)[:k]
    hits = db.search_keyword(query, k=k, where_filter=where_filter)
    assert len(hits) == len(expected), query
    reference = dict(bm25_reference(model, query, where))
    for hit, (_, score) in zip(hits, expected):
        assert -hit.distance == pytest.approx(score, rel=1e-5), query
        assert reference[hit.id] == pytest.approx(score, rel=1e-5), query
        assert hit.document == model[hit.id][0]
    # Ids equal wherever the reference has no near-tie.
    scores = [s for _, s in expected]
    for r, (i, s) in enumerate(expected):
        if all(abs(s - o) > 1e-6 * s for j, o in enumerate(scores) if j != r):
            assert hits[r].id == i, query


def random_document(rnd):
    words = [rnd.choice(WORDS[: rnd.randint(3, len(WORDS))]) for _ in range(rnd.randint(0, 12))]
    if words and rnd.random() < 0.3:
        words[0] = words[0].capitalize() + ","
    return " ".join(words)


def random_writes(db, model, rnd, count, dim):
    """Adds, upserts, updates (of the document, the metadata or both) and deletes, mirrored in
    `model` (id -> (document, metadata), in the order the ids were first added)."""
    for _ in range(count):
        op = rnd.random()
        live = list(model)
        vector = [rnd.random() for _ in range(dim)]
        meta = {"g": rnd.randrange(3)}
        doc = random_document(rnd) if rnd.random() < 0.85 else None
        if op < 0.4 or not live:
            new = "r%d" % rnd.randrange(10**9)
            db.add(new, vector, meta, document=doc)
            model[new] = (doc, meta)
        elif op < 0.55:
            i = rnd.choice(live)
            db.upsert(i, vector, meta, doc)
            model[i] = (doc, meta)
        elif op < 0.8:
            i = rnd.choice(live)
            if rnd.random() < 0.5:
                db.update(i, document=doc)
                model[i] = (doc, model[i][1])
            else:
                db.update(i, metadata=meta)
                model[i] = (model[i][0], meta)
        else:
            i = rnd.choice(live)
            db.delete(i)
            del model[i]


QUERIES = ["apple", "fig grape", "kiwi kiwi lemon", "Mango, OLIVE berry", "cherry date elder", "zucchini", "apple zucchini"]


@pytest.mark.parametrize("seed", [1, 2, 3])
def test_bm25_top_k_equals_the_reference_through_writes_reopen_and_compaction(path, seed):
    rnd = random.Random(seed)
    model = {}
    db = quarn.Database(path, dim=4)
    ids = [f"s{i}" for i in range(60)]
    docs = [random_document(rnd) for _ in ids]
    metas = [{"g": i % 3} for i in range(60)]
    db.add_many(ids, np.random.default_rng(seed).random((60, 4)), metas, documents=docs)
    model.update({i: (d, m) for i, d, m in zip(ids, docs, metas)})

    def check_all(stage):
        assert list(model) == db.ids(), stage
        assert db.verify() == [], stage  # the index equals one built afresh from the documents
        for query in QUERIES:
            for k in (1, 5, 100):
                check_top_k(db, model, query, k)
            check_top_k(db, model, query, 5, {"g": 1}, lambda m: m["g"] == 1)
            check_top_k(db, model, query, 5, {"g": {"$ne": 0}}, lambda m: m["g"] != 0)

    check_all("after the batch")
    random_writes(db, model, rnd, 120, 4)
    check_all("after random writes")
    db.close()
    db = quarn.Database(path)
    check_all("after reopen with log replay")
    db.save()
    random_writes(db, model, rnd, 60, 4)
    db.close()
    db = quarn.Database(path)
    check_all("after save, writes and reopen")
    db.compact()
    check_all("after compaction")
    random_writes(db, model, rnd, 40, 4)
    check_all("after writes on the compacted database")
    db.save()
    db.close()
    db = quarn.Database(path)
    check_all("after compaction, save and reopen")


@pytest.mark.parametrize(
    "query, k, expected",
    [
        ("", 10, []),  # no words: no hits, as k=0 gives none
        (" ,.;- ", 10, []),
        ("apple", 0, []),
        ("unheard", 10, []),
    ],
)
def test_queries_without_hits_give_an_empty_list(db, query, k, expected):
    db.add("a", [0.0, 1.0, 0.0], document="apple berry")
    assert db.search_keyword(query, k=k) == expected


def test_keyword_arguments_are_checked_like_the_vector_calls(db):
    db.add("a", [0.0, 1.0, 0.0], document="apple")
    with pytest.raises(OverflowError):
        db.search_keyword("apple", k=-1)
    with pytest.raises(TypeError, match=r"^argument 'query': "):
        db.search_keyword(b"apple")
    with pytest.raises(ValueError, match="fusion must be 'rrf' or 'weighted', got 'max'"):
        db.search_hybrid([0.0, 1.0, 0.0], "apple", fusion="max")
    with pytest.raises(ValueError, match="weight must be between 0 and 1"):
        db.search_hybrid([0.0, 1.0, 0.0], "apple", fusion="weighted", weight=1.5)
    with pytest.raises(ValueError, match="dimension mismatch"):
        db.search_hybrid([0.0], "apple")


def test_a_document_is_found_by_keyword_right_after_the_write(db):
    db.add("a", [0.0, 1.0, 0.0], document="The quick brown fox")
    assert [h.id for h in db.search_keyword("FOX")] == ["a"]
    db.update("a", document="a lazy dog")
    assert db.search_keyword("fox") == []
    assert [h.id for h in db.search_keyword("dog")] == ["a"]
    db.update("a", document=None)
    assert db.search_keyword("dog") == []


def fuse(vector_hits, keyword_hits, k, fusion, weight):
    """The fusion the documentation describes, from the two sides' hits."""
    scores, order = {}, []
    for hits, share in ((vector_hits, weight), (keyword_hits, 1 - weight)):
        if fusion == "rrf":
            side = [1 / (60 + r + 1) for r in range(len(hits))]
        else:
            d = [h.distance for h in hits]
            lo, hi = (min(d), max(d)) if d else (0, 0)
            side = [share * ((hi - x) / (hi - lo) if hi > lo else 1.0) for x in d]
        for hit, s in zip(hits, side):
            if hit.id not in scores:
                order.append(hit.id)
                scores[hit.id] = 0.0
            scores[hit.id] += s
    ranked = sorted(order, key=lambda i: -scores[i])  # stable: first appearance breaks ties
    return [(i, scores[i]) for i in ranked[:k]]


@pytest.mark.parametrize("fusion, weight", [("rrf", 0.5), ("weighted", 0.5), ("weighted", 0.8), ("weighted", 0.0)])
@pytest.mark.parametrize("where_filter", [None, {"g": 1}])
def test_hybrid_ranks_equal_the_fusion_of_both_searches(path, fusion, weight, where_filter):
    rnd = random.Random(7)
    rng = np.random.default_rng(7)
    db = quarn.Database(path, dim=8)
    n = 300
    docs = [random_document(rnd) if i % 5 else None for i in range(n)]
    db.add_many([f"r{i}" for i in range(n)], rng.random((n, 8)), [{"g": i % 3} for i in range(n)], documents=docs)
    for _ in range(10):
        vector = rng.random(8)
        query = " ".join(rnd.sample(WORDS, 2))
        for k in (1, 10):
            vector_hits = db.search(vector, k=k, ef_search=400, where_filter=where_filter)
            keyword_hits = db.search_keyword(query, k=k, where_filter=where_filter)
            expected = fuse(vector_hits, keyword_hits, k, fusion, weight)
            hits = db.search_hybrid(vector, query, k=k, ef_search=400, where_filter=where_filter, fusion=fusion,
                                    weight=weight)
            assert [h.id for h in hits] == [i for i, _ in expected]
            assert [-h.distance for h in hits] == pytest.approx([s for _, s in expected], rel=1e-5)
            assert all(h.document == docs[int(h.id[1:])] for h in hits)


def test_hybrid_with_an_empty_query_is_the_vector_ranking(db):
    db.add_many(["a", "b", "c"], [[1, 0, 0], [0, 1, 0], [1, 1, 1]], documents=["x", None, "y"])
    hits = db.search_hybrid([0.1, 1, 0], "", k=2)
    assert [h.id for h in hits] == ["b", "c"]
