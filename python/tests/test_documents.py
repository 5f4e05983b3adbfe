"""Documents: an optional str kept with each record, through writes, reads, search, the log,
snapshots and compaction, and the bytes of a database that never stored one."""
import os

import numpy as np
import pytest

import quarn

# Written by the code before documents existed, for the calls of write_without_documents.
GOLDEN_WAL = (
    "01220000000100000061030000000000803f0000004000004040090000007b2274223a2278227dbbce016b0119000000010000"
    "0062030000000000003f000080bf00000040000000002bca1ccc04040000000300000033fe172101190000000100000063030000"
    "00000000000000803f0000000000000000a929694d01200000000100000064030000000000803f0000803f0000803f070000007b"
    "226e223a317dff107484011900000001000000650300000000000040000000000000803f000000004980952c0314000000010000"
    "00610001090000007b2274223a2279227d6c3ca47a03170000000100000062010300000000004040000040400000404000eb5b1e"
    "4002050000000100000063fa19d1150404000000020000005699ab990119000000010000006403000000cdcccc3dcdcc4c3e9a99"
    "993e0000000074978cc601190000000100000066030000009a99993ecdcc4c3ecdcccc3d00000000c4ea7981"
)
GOLDEN_VECTORS = (
    "0000803f0000004000004040000040400000404000004040000000000000803f00000000cdcccc3dcdcc4c3e9a99993e000000"
    "40000000000000803f9a99993ecdcc4c3ecdcccc3d51776f40e146a6400000803fa892bf3ebd1b0f40a892bf3e"
)
# graph.quarn from its metadata section on (the graph before it depends on random levels).
GOLDEN_METADATA_SECTION = (
    "4154454d050000000400000001000000650000000003000000010000006400000000000000000100000061090000007b227422"
    "3a2279227d0500000001000000660000000001000000010000006200000000"
)


def write_without_documents(db):
    db.add("a", [1.0, 2.0, 3.0], {"t": "x"})
    db.upsert("b", [0.5, -1.0, 2.0])
    db.add_many(["c", "d", "e"], [[0.0, 1.0, 0.0], [1.0, 1.0, 1.0], [2.0, 0.0, 1.0]], [None, {"n": 1}, None])
    db.update("a", metadata={"t": "y"})
    db.update("b", vector=[3.0, 3.0, 3.0])
    db.delete("c")
    db.upsert_many(["d", "f"], [[0.1, 0.2, 0.3], [0.3, 0.2, 0.1]])


@pytest.mark.parametrize("explicit_none", [False, True])
def test_database_without_documents_writes_the_files_it_always_wrote(path, explicit_none):
    db = quarn.Database(path, dim=3, metric="l2")
    if explicit_none:
        # Passing None everywhere is the same as passing nothing.
        db.add("a", [1.0, 2.0, 3.0], {"t": "x"}, document=None)
        db.upsert("b", [0.5, -1.0, 2.0], None, None)
        db.add_many(["c", "d", "e"], [[0.0, 1.0, 0.0], [1.0, 1.0, 1.0], [2.0, 0.0, 1.0]], [None, {"n": 1}, None],
                    documents=[None, None, None])
        db.update("a", metadata={"t": "y"})
        db.update("b", vector=[3.0, 3.0, 3.0])
        db.delete("c")
        db.upsert_many(["d", "f"], [[0.1, 0.2, 0.3], [0.3, 0.2, 0.1]], documents=None)
    else:
        write_without_documents(db)
    with open(os.path.join(path, "wal.quarn"), "rb") as f:
        assert f.read().hex() == GOLDEN_WAL
    db.save()
    assert sorted(os.listdir(path)) == ["graph.quarn", "manifest.quarn", "vectors.bin", "writer.lock"]
    with open(os.path.join(path, "vectors.bin"), "rb") as f:
        assert f.read().hex() == GOLDEN_VECTORS
    with open(os.path.join(path, "graph.quarn"), "rb") as f:
        graph = f.read().hex()
    assert graph[graph.index("4154454d"):] == GOLDEN_METADATA_SECTION


def state(db):
    ids = sorted(db.ids())
    vectors, metadatas, documents = db.get_many(ids, include_documents=True)
    return {i: (vectors[r].tolist(), metadatas[r], documents[r]) for r, i in enumerate(ids)}


def test_documents_follow_every_write_through_replay_save_and_compaction(path):
    db = quarn.Database(path, dim=2)
    db.add("a", [1, 0], document="first ✓")
    db.add("b", [0, 1], {"k": 1}, "b text")
    db.add("c", [1, 1])
    db.upsert("c", [1, 2], document="")  # an empty document is a document
    db.add_many(["d", "e"], [[2, 1], [1, 3]], documents=["d text", None])
    db.upsert_many(["b", "f"], [[0, 2], [3, 1]], [None, {"f": 1}], documents=[None, "f text"])
    db.update("a", document="replaced")
    db.update("e", document="set by update")
    db.update("d", document=None)  # clears
    db.update("f", vector=[3, 2])  # keeps
    db.update("f", metadata={"g": 2}, document=...)  # keeps
    db.delete("c")
    expected = {
        "a": ([1.0, 0.0], None, "replaced"),
        "b": ([0.0, 2.0], None, None),
        "d": ([2.0, 1.0], None, None),
        "e": ([1.0, 3.0], None, "set by update"),
        "f": ([3.0, 2.0], {"g": 2}, "f text"),
    }
    assert state(db) == expected
    del db
    db = quarn.Database(path)  # replay of the log
    assert state(db) == expected
    db.save()
    db.add("g", [5, 5], document="after save")
    expected["g"] = ([5.0, 5.0], None, "after save")
    db.compact()
    assert state(db) == expected
    del db
    db = quarn.Database(path)  # snapshot plus log
    assert state(db) == expected
    db.compact()
    db.save()
    del db
    db = quarn.Database(path)
    assert state(db) == expected
    assert db.verify() == []
    assert db.get_many(["a"]) == (pytest.approx(np.array([[1.0, 0.0]], dtype=np.float32)), [None])
    assert db.get_many(["a"], False, True) == (None, [None], ["replaced"])


def test_clearing_the_last_document_removes_the_file_at_the_next_save(path):
    db = quarn.Database(path, dim=2)
    db.add("a", [1, 0], document="x")
    db.save()
    assert os.path.exists(os.path.join(path, "documents.bin"))
    db.update("a", document=None)
    db.save()
    assert not os.path.exists(os.path.join(path, "documents.bin"))
    del db
    assert quarn.Database(path).get_many(["a"], include_documents=True)[2] == [None]


def test_search_fills_documents_only_when_asked(path):
    db = quarn.Database(path, dim=2, metric="l2")
    db.add_many(["a", "b"], [[0, 0], [1, 0]], [{"t": 1}, {"t": 1}], documents=["alpha", None])
    for kwargs in ({}, {"where_filter": {"t": 1}}):
        plain = db.search([0, 0], k=2, **kwargs)
        assert [h.document for h in plain] == [None, None]
        hits = db.search([0, 0], k=2, include_documents=True, **kwargs)
        assert [(h.id, h.document) for h in hits] == [("a", "alpha"), ("b", None)]
        batches = db.search_many([[0, 0], [1, 0]], k=1, include_documents=True, **kwargs)
        assert [[(h.id, h.document) for h in hits] for hits in batches] == [[("a", "alpha")], [("b", None)]]
    hit = db.search([0, 0], k=1, include_documents=True)[0]
    assert tuple(hit) == ("a", 0.0, {"t": 1})  # still unpacks as the three-member tuple


LIMIT = 16 * 1024 * 1024
BAD_DOCUMENTS = [
    (b"x", "must be a str or None, not 'bytes'"),
    (7, "must be a str or None, not 'int'"),
    ("lone \ud800 surrogate", "is not valid UTF-8 (it holds a lone surrogate)"),
    ("é" * (LIMIT // 2 + 1), f"{LIMIT + 2} bytes, over the limit of {LIMIT}"),
]


@pytest.mark.parametrize("document, reason", BAD_DOCUMENTS, ids=["bytes", "int", "surrogate", "too long"])
def test_bad_document_raises_naming_the_row_and_writes_nothing(path, document, reason):
    db = quarn.Database(path, dim=2)
    db.add("kept", [1, 0], document="old")
    wal = os.path.join(path, "wal.quarn")
    before = open(wal, "rb").read()
    single = f"document {reason}" if not reason[0].isdigit() else f"document: {reason}"
    with pytest.raises(ValueError, match="^" + single.replace("(", r"\(").replace(")", r"\)") + "$"):
        db.add("new", [0, 1], document=document)
    with pytest.raises(ValueError):
        db.upsert("kept", [0, 1], None, document)
    with pytest.raises(ValueError):
        db.update("kept", [0, 1], document=document)
    row = f"documents[2] {reason}" if not reason[0].isdigit() else f"documents[2] (id 'x2'): {reason}"
    for write in (db.add_many, db.upsert_many):
        with pytest.raises(ValueError) as err:
            write(["x0", "x1", "x2"], [[1, 1], [2, 2], [3, 3]], documents=["ok", None, document])
        assert str(err.value) == row
    assert open(wal, "rb").read() == before
    assert state(db) == {"kept": ([1.0, 0.0], None, "old")}


def test_documents_list_must_be_a_list_as_long_as_the_ids(db):
    with pytest.raises(ValueError, match=r"^documents length \(1\) != ids length \(2\)$"):
        db.add_many(["a", "b"], [[1, 2, 3], [4, 5, 6]], documents=["x"])
    with pytest.raises(TypeError):
        db.add_many(["a", "b"], [[1, 2, 3], [4, 5, 6]], documents=("x", "y"))
    assert len(db) == 0


def test_a_document_of_exactly_the_limit_is_stored(db):
    db.add("big", [1, 2, 3], document="x" * LIMIT)
    assert len(db.get_many(["big"], include_documents=True)[2][0]) == LIMIT
