"""The keyword settings chosen at creation (stop words, stemming, k1, b), stored and enforced at
reopen, and the keyword index saved beside the snapshot (keyword.bin): used when it matches the
documents, rebuilt when it is missing, damaged or stale."""
import os
import random
import shutil

import numpy as np
import pytest

import quarn
from test_keyword import QUERIES, bm25_reference, random_document

DEFAULTS = {"stemmer": None, "stop_words": None, "k1": pytest.approx(1.2), "b": 0.75}


def make(path, keyword=None, docs=("The cats are running", "a cat runs", "the dog", None)):
    db = quarn.Database(path, dim=2, keyword=keyword)
    db.add_many([f"d{i}" for i in range(len(docs))], np.ones((len(docs), 2)), documents=list(docs))
    return db


# settings -> (query, ids found in order)
BEHAVIOUR = [
    (None, "cat", ["d1"]),
    (None, "the", ["d2", "d0"]),
    ({"stop_words": "english"}, "the", []),
    ({"stop_words": "english"}, "the dog", ["d2"]),
    ({"stemmer": "english"}, "cat", ["d1", "d0"]),
    ({"stemmer": "english"}, "running", ["d1", "d0"]),
    ({"stemmer": "english", "stop_words": "english"}, "are", []),
]


@pytest.mark.parametrize("keyword, query, expected", BEHAVIOUR)
def test_settings_choose_the_terms_and_survive_a_reopen(tmp_path, keyword, query, expected):
    path = str(tmp_path / "db")
    with make(path, keyword) as db:
        assert [h.id for h in db.search_keyword(query)] == expected
    with quarn.Database(path) as db:  # no settings given: the stored ones
        assert [h.id for h in db.search_keyword(query)] == expected
        assert db.keyword == {**DEFAULTS, **(keyword or {})}


@pytest.mark.parametrize("k1, b", [(0.5, 0.3), (2.0, 1.0), (1.2, 0.0)])
def test_k1_and_b_set_the_bm25_scores(tmp_path, k1, b):
    rnd = random.Random(4)
    docs = [random_document(rnd) for _ in range(40)]
    model = {f"d{i}": (d, None) for i, d in enumerate(docs)}
    db = make(str(tmp_path / "db"), {"k1": k1, "b": b}, docs)
    for query in QUERIES:
        expected = bm25_reference(model, query, k1=k1, b=b)[:5]
        assert [-h.distance for h in db.search_keyword(query, k=5)] == \
            pytest.approx([s for _, s in expected], rel=1e-5)
    db.close()


def test_a_database_with_the_default_settings_stores_nothing_for_them(tmp_path):
    make(str(tmp_path / "plain")).close()
    make(str(tmp_path / "given"), {"stemmer": None, "k1": 1.2, "b": 0.75}).close()
    assert sorted(os.listdir(tmp_path / "plain")) == sorted(os.listdir(tmp_path / "given"))
    assert "keyword.json" not in os.listdir(tmp_path / "plain")
    make(str(tmp_path / "stemmed"), {"stemmer": "english"}).close()
    assert "keyword.json" in os.listdir(tmp_path / "stemmed")


def test_other_settings_at_reopen_are_refused_naming_both(tmp_path):
    path = str(tmp_path / "db")
    make(path, {"stemmer": "english", "k1": 1.5}).close()
    with pytest.raises(ValueError, match=r"keyword settings \{stemmer=none, stop_words=none, k1=1.2, b=0.75\} differ "
                                         r"from the database's \{stemmer=english, stop_words=none, k1=1.5, b=0.75\}"):
        quarn.Database(path, keyword={})
    with pytest.raises(ValueError, match="differ from the database's"):
        quarn.Database(path, read_only=True, keyword={"stemmer": "english"})
    quarn.Database(path, dim=2, keyword={"stemmer": "english", "k1": 1.5}).close()  # the same: accepted


@pytest.mark.parametrize("keyword, message", [
    ({"stemmer": "french"}, "keyword stemmer must be 'english' or None"),
    ({"stop_words": True}, "keyword stop_words must be 'english' or None"),
    ({"k1": -1.0}, "k1"),
    ({"b": 1.5}, "b"),
    ({"k1": "big"}, "k1"),
    ({"stem": "english"}, "unknown keyword setting 'stem'"),
    (["stemmer"], "keyword must be a dict"),
])
def test_bad_settings_are_refused_before_anything_is_created(tmp_path, keyword, message):
    path = tmp_path / "db"
    with pytest.raises((ValueError, TypeError), match=message):
        quarn.Database(str(path), dim=2, keyword=keyword)
    assert not path.exists()


def corpus_db(path, n=300, keyword=None):
    rnd = random.Random(9)
    db = quarn.Database(path, dim=3, keyword=keyword)
    db.add_many([f"r{i}" for i in range(n)], np.random.default_rng(9).random((n, 3)),
                documents=[random_document(rnd) if i % 4 else None for i in range(n)])
    return db


def answers(db):
    return [[(h.id, h.distance) for h in db.search_keyword(q, k=20)] for q in QUERIES]


def test_the_saved_index_is_written_with_documents_and_removed_without_them(tmp_path):
    path = str(tmp_path / "db")
    db = quarn.Database(path, dim=3)
    db.add("a", [1, 0, 0])
    db.save()
    assert "keyword.bin" not in os.listdir(path)  # a database without documents writes none
    db.update("a", document="red fox")
    db.save()
    assert "keyword.bin" in os.listdir(path)
    db.update("a", document=None)
    db.save()
    assert "keyword.bin" not in os.listdir(path)
    db.close()


def flip_last_byte(path):
    data = bytearray(open(path, "rb").read())
    data[-1] ^= 0xFF
    open(path, "wb").write(bytes(data))


def put_back_old_file(path, old):
    shutil.copy(old, path)


@pytest.mark.parametrize("spoil", [None, flip_last_byte, os.remove, "stale"])
def test_reopen_answers_alike_whether_the_saved_index_is_used_or_rebuilt(tmp_path, spoil):
    path = str(tmp_path / "db")
    db = corpus_db(path, keyword={"stemmer": "english"})
    db.save()
    shutil.copy(os.path.join(path, "keyword.bin"), tmp_path / "old.bin")
    db.update("r1", document="kiwi kiwi apple")
    db.delete("r2")
    db.save()
    db.upsert("r3", [0, 0, 1], document="mango olive")  # in the log only
    expected = answers(db)
    db.close()
    target = os.path.join(path, "keyword.bin")
    if spoil == "stale":
        put_back_old_file(target, tmp_path / "old.bin")  # the index of an earlier snapshot
    elif spoil is not None:
        spoil(target)
    with quarn.Database(path) as again:
        assert again.verify() == []  # the index equals one built from the documents
        assert answers(again) == expected
    with quarn.Database(path, read_only=True) as reader:
        assert answers(reader) == expected


def test_a_backup_keeps_the_settings_and_the_saved_index(tmp_path):
    db = corpus_db(str(tmp_path / "db"), n=60, keyword={"stop_words": "english", "b": 0.5})
    db.save()
    expected = answers(db)
    db.backup(str(tmp_path / "copy"))
    db.close()
    assert {"keyword.json", "keyword.bin"} <= set(os.listdir(tmp_path / "copy"))
    with quarn.Database(str(tmp_path / "copy")) as copy:
        assert copy.keyword == {**DEFAULTS, "stop_words": "english", "b": 0.5}
        assert answers(copy) == expected
