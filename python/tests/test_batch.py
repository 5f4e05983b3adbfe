"""add_many, upsert_many and delete_many: argument preparation, checks and all-or-nothing batches."""
import numpy as np
import pytest

import quarn


@pytest.fixture
def db4(path):
    return quarn.Database(path, dim=4, metric="l2")


def rows(n, dim=4, start=0):
    return [[float(start + i)] * dim for i in range(n)]


def test_add_many_from_lists_and_arrays(db4):
    db4.add_many(["a", "b"], rows(2), [{"k": 1}, None])
    db4.add_many(("c", "d"), np.array(rows(2, start=2), dtype=np.float32))
    db4.add_many(["e"], np.array(rows(1, start=4)), metadatas=[{"k": 5}])
    assert sorted(db4.ids()) == list("abcde")
    assert db4.get("a") == ([0.0] * 4, {"k": 1})
    assert db4.get("b") == ([1.0] * 4, None)
    assert db4.get("d") == ([3.0] * 4, None)
    assert db4.get("e") == ([4.0] * 4, {"k": 5})
    assert db4.total_slots == 5 and db4.search([2, 2, 2, 2], k=1)[0].id == "c"


def test_metadatas_none_and_list_of_none_are_the_same(path):
    first = quarn.Database(path + "1", dim=4)
    second = quarn.Database(path + "2", dim=4)
    first.add_many(["a", "b"], rows(2, start=1), None)
    second.add_many(["a", "b"], rows(2, start=1), [None, None])
    assert [first.get(i) for i in "ab"] == [second.get(i) for i in "ab"]


def test_length_mismatches(db4):
    with pytest.raises(ValueError) as err:
        db4.add_many(["a", "b", "c"], rows(2))
    assert str(err.value) == "ids length (3) != vectors length (2)"
    with pytest.raises(ValueError) as err:
        db4.upsert_many(["a", "b"], rows(2), [None])
    assert str(err.value) == "metadatas length (1) != ids length (2)"
    with pytest.raises(ValueError) as err:
        db4.add_many(["a"], rows(1), [["k", 1]])
    assert str(err.value) == "metadatas[0] must be a dict or None, not 'list'"
    with pytest.raises(ValueError, match="^invalid metadata: "):
        db4.add_many(["a", "b"], rows(2), [None, {"x": float("inf")}])
    assert len(db4) == 0


def test_argument_types(db4):
    with pytest.raises(TypeError, match=r"^argument 'metadatas': "):
        db4.add_many(["a"], rows(1), ({"k": 1},))
    with pytest.raises(TypeError, match=r"^argument 'ids': "):
        db4.add_many("ab", rows(2))
    with pytest.raises(TypeError, match=r"^argument 'ids': "):
        db4.add_many(["a", 2], rows(2))
    with pytest.raises(TypeError, match=r"^argument 'ids': "):
        db4.delete_many({"a"})
    with pytest.raises(TypeError, match=r"^argument 'vectors': "):
        db4.upsert_many(["a"], "1234")
    assert len(db4) == 0


def test_a_bad_vector_or_existing_id_adds_nothing(db4):
    db4.add("b", rows(1)[0])
    with pytest.raises(ValueError) as err:
        db4.add_many(["x", "y", "z"], [[1, 1, 1, 1], [1, 1, 1], [2, 2, 2, 2]])
    assert str(err.value) == "vectors[1]: dimension mismatch: expected 4, got 3"
    with pytest.raises(ValueError) as err:
        db4.add_many(["a", "b", "c"], rows(3))
    assert str(err.value) == "id 'b' already exists, use upsert instead"
    with pytest.raises(ValueError, match="expected 4, got 5"):
        db4.upsert_many(["b", "q"], [[1] * 4, [1] * 5])
    assert db4.ids() == ["b"] and db4.total_slots == 1 and db4.get("b")[0] == [0.0] * 4


def test_empty_batches(db4):
    assert db4.add_many([], []) is None
    assert db4.upsert_many([], np.zeros((0, 4), np.float32)) is None
    assert db4.delete_many([]) == 0
    assert len(db4) == 0 and db4.total_slots == 0


def test_upsert_many_updates_in_place_and_appends_new_ids(db4):
    db4.add_many(["a", "b"], rows(2), [{"k": "a"}, {"k": "b"}])
    db4.upsert_many(["b", "c", "a"], rows(3, start=10), [{"k": "B"}, {"k": "C"}, None])
    assert db4.total_slots == 3 and len(db4) == 3
    assert db4.get("b") == ([10.0] * 4, {"k": "B"})
    assert db4.get("c") == ([11.0] * 4, {"k": "C"})
    assert db4.get("a") == ([12.0] * 4, None)
    db4.upsert_many(["b"], rows(1, start=20))
    assert db4.get("b") == ([20.0] * 4, None)
    assert db4.count({"k": "B"}) == 0 and db4.count({"k": "C"}) == 1


def test_delete_many_counts_each_live_id_once(db4):
    db4.add_many(list("abcd"), rows(4), [{"g": 1}] * 4)
    assert db4.delete_many(["a", "zz", "a", "c"]) == 2
    assert sorted(db4.ids()) == ["b", "d"]
    assert (len(db4), db4.total_slots, db4.deleted_count, db4.count({"g": 1})) == (2, 4, 2, 2)
    assert db4.delete_many(("b", "d")) == 2
    assert len(db4) == 0


def test_large_batch_is_searchable(path, rng):
    dim = 32
    data = rng.normal(size=(3000, dim)).astype(np.float32)
    db = quarn.Database(path, dim=dim, metric="l2")
    db.add_many([str(i) for i in range(len(data))], data, [{"i": i} for i in range(len(data))])
    assert len(db) == 3000
    for i in (0, 1234, 2999):
        hit = db.search(data[i], k=1)[0]
        assert (hit.id, hit.metadata) == (str(i), {"i": i})
        assert hit.distance == pytest.approx(0.0, abs=1e-4)
