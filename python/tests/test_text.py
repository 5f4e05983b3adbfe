"""Text in, text out: the embedding function a database records, and its writes and searches by text."""
import json
import os

import _quarn
import numpy as np
import pytest

import quarn
from quarn import embeddings
from quarn._text import EMBED_BATCH


class Letters:
    """A test function: letter counts folded into dim buckets, with a salt that shifts them."""

    name = "test-letters"
    metric = "dot_product"

    def __init__(self, dim=12, salt=0):
        self.dim, self.salt = dim, salt
        self.calls = []

    def vectors(self, texts):
        out = np.zeros((len(texts), self.dim), np.float32)
        for i, text in enumerate(texts):
            for ch in text.lower():
                if ch.isalpha():
                    out[i, (ord(ch) + self.salt) % self.dim] += 1
        return out

    def embed_documents(self, texts):
        self.calls.append(("documents", len(texts)))
        return self.vectors(texts)

    def embed_query(self, texts):
        self.calls.append(("query", len(texts)))
        return self.vectors(texts)

    def config(self):
        return {"dim": self.dim, "salt": self.salt}

    @classmethod
    def from_config(cls, config):
        return cls(**config)


class Weighted(Letters):
    """Letters with a fingerprint: the same name and config over other weights."""

    name = "test-weighted"

    def __init__(self, dim=12, salt=0, weights="w1"):
        super().__init__(dim, salt)
        self.weights = weights

    def config(self):
        return {"dim": self.dim, "salt": self.salt}

    def fingerprint(self):
        return "sha256:" + self.weights


class NoMetric(Letters):
    name = "test-no-metric"
    metric = None


embeddings.register(Letters.name)(Letters)
embeddings.register(Weighted.name)(Weighted)
embeddings.register(NoMetric.name)(NoMetric)

TEXTS = ["the cat sat on the mat", "a dog in the fog", "quarn keeps vectors", "cats and dogs",
         "vectors of floats", "the mat is red", "fog over the harbour", "a red cat"]
IDS = [f"t{i}" for i in range(len(TEXTS))]
META = [{"n": i} for i in range(len(TEXTS))]


@pytest.fixture
def tdb(path):
    db = quarn.Database(path, embedding=Letters())
    db.add_texts(IDS, TEXTS, META)
    return db


def hits(results):
    return [(h.id, h.distance, h.metadata, h.document) for h in results]


def record_file(path):
    with open(os.path.join(path, "embedding.json")) as f:
        return json.load(f)


# ---------------------------------------------------------------- the recorded function

def test_reopening_without_embedding_uses_the_recorded_function(path):
    with quarn.Database(path, embedding=Letters(salt=3)) as db:
        assert (db.dim, db.metric) == (12, "dot_product")
        db.add_texts(IDS, TEXTS)
        before = [(h.id, h.distance) for h in db.search_text("red cat", k=4)]
    assert record_file(path) == {"format": 1, "name": "test-letters", "dim": 12,
                                 "config": {"dim": 12, "salt": 3}, "fingerprint": None}
    with quarn.Database(path) as db:
        assert isinstance(db.embedding, Letters) and db.embedding.config() == {"dim": 12, "salt": 3}
        assert [(h.id, h.distance) for h in db.search_text("red cat", k=4)] == before
    with quarn.Database(path, embedding=Letters(salt=3)) as db:
        assert db.embedding.salt == 3


@pytest.mark.parametrize("other, named", [
    (Letters(salt=4), "'salt': 4"),
    (Letters(dim=16), "dim 16"),
    (NoMetric(), "'test-no-metric'"),
    (Weighted(weights="w2"), "sha256:w2"),
])
def test_reopening_with_another_function_is_refused_naming_both(path, other, named):
    first = Weighted() if isinstance(other, Weighted) else Letters()
    quarn.Database(path, embedding=first).close()
    before = open(os.path.join(path, "embedding.json"), "rb").read()
    with pytest.raises(ValueError) as refused:
        quarn.Database(path, embedding=other)
    message = str(refused.value)
    assert repr(first.name) in message and named in message
    assert f"fingerprint {embeddings.fingerprint(first)}" in message
    assert open(os.path.join(path, "embedding.json"), "rb").read() == before
    with quarn.Database(path, read_only=True) as reader:  # the refusal left no lock behind
        assert reader.embedding.config() == first.config()


def test_recorded_weights_that_changed_are_refused_on_first_use(path):
    quarn.Database(path, embedding=Weighted(weights="w1")).close()
    embeddings.register(Weighted.name, lambda config: Weighted(weights="w9", **config))
    try:
        with quarn.Database(path) as db:
            assert len(db) == 0  # vector work needs no function
            with pytest.raises(ValueError, match="sha256:w1.*sha256:w9"):
                db.search_text("cat")
    finally:
        embeddings.register(Weighted.name)(Weighted)


@pytest.mark.parametrize("fn, dim, metric, expected", [
    (Letters(), None, None, (12, "dot_product")),
    (Letters(), 12, "dot", (12, "dot_product")),
    (Letters(), 13, None, "dim=13 disagrees with the embedding 'test-letters', which gives 12"),
    (Letters(), None, "cosine", "metric='cosine' disagrees with the embedding 'test-letters', made for 'dot_product'"),
    (NoMetric(), None, None, (12, "cosine")),
    (NoMetric(), None, "euclidean", (12, "euclidean")),
])
def test_dim_and_metric_come_from_the_function(path, fn, dim, metric, expected):
    if isinstance(expected, str):
        with pytest.raises(ValueError, match=expected.replace("(", r"\(")):
            quarn.Database(path, dim=dim, metric=metric, embedding=fn)
        assert not os.path.exists(path)
        return
    with quarn.Database(path, dim=dim, metric=metric, embedding=fn) as db:
        assert (db.dim, db.metric) == expected


def test_a_database_without_embedding_writes_what_it_always_wrote(tmp_path):
    plain, text = str(tmp_path / "plain"), str(tmp_path / "text")
    for p, kwargs in ((plain, {"dim": 12, "metric": "dot_product"}), (text, {"embedding": Letters()})):
        with quarn.Database(p, **kwargs) as db:
            db.add_many(IDS, Letters().embed_documents(TEXTS), META, documents=TEXTS)
    assert sorted(os.listdir(text)) == sorted(os.listdir(plain) + ["embedding.json"])
    # The graph's random levels differ between builds, and the manifest holds the graph's checksums.
    for name in set(os.listdir(plain)) - {"graph.quarn", "manifest.quarn"}:
        assert open(os.path.join(plain, name), "rb").read() == open(os.path.join(text, name), "rb").read(), name
    with quarn.Database(plain) as db:
        assert db.embedding is None


def test_read_only_open_uses_a_given_function_without_recording_it(path):
    quarn.Database(path, dim=12, metric="dot_product").close()
    with quarn.Database(path, read_only=True, embedding=Letters()) as reader:
        assert reader.search_text("cat") == []
    assert not os.path.exists(os.path.join(path, "embedding.json"))
    with quarn.Database(path, embedding=Letters()) as db:  # first use by a writer records it
        db.add_texts(["a"], ["a cat"])
    with quarn.Database(path, read_only=True) as reader:
        assert [h.id for h in reader.search_text("cat")] == ["a"]


@pytest.mark.parametrize("dim, metric, error", [
    (5, "dot_product", "holds 5-dimensional vectors; the embedding 'test-letters' gives 12"),
    (12, "euclidean", "measures euclidean; the embedding 'test-letters' is made for 'dot_product'"),
])
def test_function_given_to_a_database_of_another_shape_is_refused(path, dim, metric, error):
    quarn.Database(path, dim=dim, metric=metric).close()
    with pytest.raises(ValueError, match=error):
        quarn.Database(path, embedding=Letters())
    assert not os.path.exists(os.path.join(path, "embedding.json"))
    quarn.Database(path).close()  # the refused open released the directory


@pytest.mark.parametrize("content, error", [
    (b"{", "embedding.json is damaged"),
    (b'{"format": 2, "name": "x", "dim": 1, "config": {}, "fingerprint": null}', "unknown format 2"),
    (b'{"format": 1, "name": "x", "config": {}, "fingerprint": null}', "'dim'"),
])
def test_a_damaged_record_is_reported_not_replaced(path, content, error):
    quarn.Database(path, embedding=Letters()).close()
    with open(os.path.join(path, "embedding.json"), "wb") as f:
        f.write(content)
    with pytest.raises(ValueError, match=error):
        quarn.Database(path, embedding=Letters())
    assert open(os.path.join(path, "embedding.json"), "rb").read() == content


def test_a_temporary_left_by_a_crash_is_not_taken_for_the_record(path):
    quarn.Database(path, dim=12, metric="dot_product").close()
    with open(os.path.join(path, "embedding.json.tmp"), "wb") as f:
        f.write(b'{"format": 1, "na')  # a write cut short before its rename
    with quarn.Database(path) as db:
        assert db.embedding is None
    quarn.Database(path, embedding=Letters()).close()
    assert record_file(path)["name"] == "test-letters"
    assert not os.path.exists(os.path.join(path, "embedding.json.tmp"))


# ---------------------------------------------------------------- writes and searches by text

def test_add_texts_stores_documents_and_vectors_of_the_function(tdb):
    vectors, metadatas, documents = tdb.get_many(IDS, include_documents=True)
    np.testing.assert_array_equal(vectors, Letters().embed_documents(TEXTS))
    assert (metadatas, documents) == (META, TEXTS)
    tdb.upsert_texts(["t0", "new"], ["fog fog", "a new text"])
    _, metadatas, documents = tdb.get_many(["t0", "new"], include_documents=True)
    assert (metadatas, documents) == ([None, None], ["fog fog", "a new text"])
    with pytest.raises(ValueError, match="already exists"):
        tdb.add_texts(["t1"], ["again"])
    assert tdb.get_many(["t1"], include_documents=True)[2] == [TEXTS[1]]


def test_searches_by_text_equal_the_searches_by_its_query_vector(tdb):
    fn = Letters()
    queries = ["red cat", "fog", "vectors and floats"]
    vectors = fn.embed_query(queries)
    flt = {"n": {"$gte": 2}}
    for q, v in zip(queries, vectors):
        expected = hits(tdb.search(v, 5, where_filter=flt, include_documents=True))
        assert hits(tdb.search_text(q, 5, where_filter=flt)) == expected
        assert [h[3] for h in expected] == [TEXTS[int(h[0][1:])] for h in expected]
        assert hits(tdb.search_hybrid(q, k=5)) == hits(tdb.search_hybrid(v, q, 5))
        assert hits(tdb.search_hybrid(query=q, k=5)) == hits(tdb.search_hybrid(v, q, 5))
    assert [hits(r) for r in tdb.search_text_many(queries, 3, include_documents=False)] == \
        [hits(r) for r in tdb.search_many(vectors, 3)]
    assert tdb.search_text_many([]) == []
    assert ("query", 1) in tdb.embedding.calls  # queries go through embed_query


def test_document_filters_reach_the_searches_by_text(tdb):
    vector = Letters().vectors(["the red cat"])[0]
    where = {"$contains": "the"}
    expected = hits(tdb.search(vector, 5, include_documents=True, where_document=where))
    assert hits(tdb.search_text("the red cat", 5, where_document=where)) == expected
    assert all("the" in h[3].split() for h in expected) and 0 < len(expected) < len(TEXTS)
    assert hits(tdb.search_text_many(["the red cat"], 5, where_document=where)[0]) == expected
    assert hits(tdb.search_hybrid("the red cat", k=5, where_document=where)) == \
        hits(tdb.search_hybrid(vector, "the red cat", 5, where_document=where))


def test_text_calls_without_a_function_name_themselves(db):
    calls = {
        "add_texts": lambda: db.add_texts(["a"], ["x"]),
        "upsert_texts": lambda: db.upsert_texts(["a"], ["x"]),
        "search_text": lambda: db.search_text("x"),
        "search_text_many": lambda: db.search_text_many(["x"]),
        "search_hybrid with text only": lambda: db.search_hybrid("x"),
    }
    for name, call in calls.items():
        with pytest.raises(ValueError, match=f"^{name} needs an embedding function"):
            call()
    db.add("a", [1, 0, 0], document="x y")
    assert hits(db.search_hybrid([1, 0, 0], "y", 1)) == hits(_quarn.Database.search_hybrid(db, [1, 0, 0], "y", 1))


@pytest.mark.parametrize("args, error", [
    ((["a", "b"], ["x"]), "add_texts: 2 ids but 1 documents"),
    ((["a"], ["x"], [{}, {}]), "add_texts: 1 ids but 2 metadatas"),
    ((["a"], "x"), "not a single string"),
    ((["a"], [None]), r"texts\[0\] is NoneType"),
])
def test_malformed_text_batches_are_refused_before_embedding(path, args, error):
    db = quarn.Database(path, embedding=Letters())
    with pytest.raises((ValueError, TypeError), match=error):
        db.add_texts(*args)
    assert db.embedding.calls == [] and len(db) == 0


def test_progress_covers_embedding_and_linking(path):
    db = quarn.Database(path, embedding=Letters())
    n = 2 * EMBED_BATCH + 10
    events = []
    db.embedding.calls = events  # the function's calls and the reports in one sequence
    db.add_texts([f"i{i}" for i in range(n)], [f"text {i}" for i in range(n)],
                 progress=lambda done, total: events.append((done, total)))
    assert events[:6] == [("documents", EMBED_BATCH), (EMBED_BATCH, 2 * n), ("documents", EMBED_BATCH),
                          (2 * EMBED_BATCH, 2 * n), ("documents", 10), (n, 2 * n)]
    reports = events[6:]
    assert reports[-1] == (2 * n, 2 * n) and len(reports) > 1
    assert all(n < done <= total == 2 * n for done, total in reports)
    assert [d for d, _ in reports] == sorted(d for d, _ in reports)


def test_a_failing_progress_callable_stops_reports_not_the_write(path):
    db = quarn.Database(path, embedding=Letters())
    calls = []

    def fail(done, total):
        calls.append(done)
        raise KeyError("stop")

    n = EMBED_BATCH + 1
    with pytest.raises(KeyError, match="stop"):
        db.upsert_texts([f"i{i}" for i in range(n)], ["x y"] * n, progress=fail)
    assert calls == [EMBED_BATCH] and len(db) == n


def test_the_builtin_function_end_to_end(path):
    from quarn.embeddings import _minilm
    if not _minilm.available():
        pytest.skip(f"{_minilm.WEIGHTS_PIP} is not installed")
    with quarn.Database(path, embedding="minilm") as db:
        assert (db.dim, db.metric) == (384, "cosine")
        db.add_texts(["pets", "space", "food"],
                     ["My cat sleeps on the sofa all day", "The rocket reached orbit around Mars",
                      "Fresh bread and butter for breakfast"])
    with quarn.Database(path, read_only=True) as db:
        assert db.embedding.name == "minilm"
        assert [h.id for h in db.search_text("a spacecraft flying to another planet", k=3)][0] == "space"
        assert db.search_text_many(["kittens", "toast"], k=1)[1][0].id == "food"
