"""vectors_in_memory=False: the keyword, the mode a directory keeps across opens, rerank=."""
import os

import numpy as np
import pytest

import quarn


@pytest.mark.parametrize(
    "opens, in_memory_at_end",
    [
        ([None], True),
        ([False], False),
        ([False, None], False),
        ([False, True], True),
        ([True, False, None], False),
    ],
)
def test_the_directory_keeps_the_last_mode_a_writer_chose(tmp_path, opens, in_memory_at_end):
    path = str(tmp_path / "db")
    rows = np.random.default_rng(1).normal(size=(len(opens), 8)).astype(np.float32)
    for i, choice in enumerate(opens):
        with quarn.Database(path, dim=8, vectors_in_memory=choice) as db:
            db.add(str(i), rows[i])
    with quarn.Database(path) as db:
        assert db.vectors_in_memory is in_memory_at_end
        assert db.stats()["vectors_in_memory"] is in_memory_at_end
        # The codes written while the vectors were on disk stay (vectors.sq8) after switching back.
        assert db.quantized_search is (False in opens)
        np.testing.assert_array_equal(db.get_many([str(i) for i in range(len(opens))])[0], rows)
    assert os.path.exists(os.path.join(path, "vectors.ondisk")) is (not in_memory_at_end)


def test_rows_on_disk_answer_and_report_no_vector_memory(tmp_path):
    rng = np.random.default_rng(2)
    vectors = rng.normal(size=(500, 16)).astype(np.float32)
    db = quarn.Database(str(tmp_path / "db"), dim=16, metric="l2", vectors_in_memory=False)
    db.add_many([str(i) for i in range(500)], vectors)
    stats = db.stats()
    assert list(stats)[-1] == "vectors_in_memory" and stats["vectors_in_memory"] is False
    assert stats["memory_vectors_bytes"] == 0 and stats["memory_quantized_bytes"] > 0
    # Small collections are scanned exactly, whatever the mode: every row is read back right.
    truth = np.argsort(((vectors - vectors[7]) ** 2).sum(1))[:5]
    assert [int(h.id) for h in db.search(vectors[7], k=5, rerank=5)] == truth.tolist()
    assert [[int(h.id) for h in hits] for hits in db.search_many(vectors[:2], k=1, rerank=3)] == [[0], [1]]


@pytest.mark.parametrize(
    "rerank, error, message",
    [(0, ValueError, "rerank must be at least 1"), (-1, OverflowError, None), ("5", TypeError, None)],
)
def test_rerank_refuses_what_it_cannot_take(tmp_path, rerank, error, message):
    db = quarn.Database(str(tmp_path / "db"), dim=4)
    db.add("a", [1, 2, 3, 4])
    for call in (lambda: db.search([1, 2, 3, 4], rerank=rerank), lambda: db.search_many([[1, 2, 3, 4]], rerank=rerank)):
        with pytest.raises(error) as raised:
            call()
        if message is not None:
            assert str(raised.value) == message


def test_vectors_in_memory_is_keyword_only(tmp_path):
    with pytest.raises(TypeError):
        quarn.Database(str(tmp_path / "db"), 4, None, None, None, False, False, "flush", False)
