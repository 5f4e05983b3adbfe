"""Single-record writes and reads, and how vectors and metadata are converted."""
import math

import numpy as np
import pytest

import quarn


def test_add_get_and_duplicate(db):
    assert db.add("a", [1, 2, 3]) is None
    assert db.get("a") == ([1.0, 2.0, 3.0], None)
    with pytest.raises(ValueError) as err:
        db.add("a", [1, 2, 3])
    assert str(err.value) == "id 'a' already exists, use upsert instead"
    assert len(db) == 1


def test_empty_and_unicode_ids_are_ordinary_ids(db):
    db.add("", [1, 0, 0])
    db.add("ключ ✓", [0, 1, 0])
    assert "" in db and "ключ ✓" in db
    assert sorted(db.ids()) == ["", "ключ ✓"]
    assert db.search([0, 1, 0], k=1)[0].id == "ключ ✓"


def test_metadata_comes_back_with_sorted_keys_and_number_kinds(db):
    db.add("a", [1, 2, 3], {"b": 1, "a": 2.0, "nested": {"z": [1, None, True], "y": "s"}})
    vector, metadata = db.get("a")
    assert list(metadata) == ["a", "b", "nested"]
    assert list(metadata["nested"]) == ["y", "z"]
    assert metadata == {"a": 2.0, "b": 1, "nested": {"y": "s", "z": [1, None, True]}}
    assert isinstance(metadata["a"], float) and isinstance(metadata["b"], int)


def test_metadata_conversion_follows_json_dumps(db):
    db.add("big", [1, 0, 0], {"n": 2**64, "m": -(2**63), "t": (1, 2), 1: "one"})
    _, metadata = db.get("big")
    assert metadata["n"] == 1.8446744073709552e19 and isinstance(metadata["n"], float)
    assert metadata["m"] == -(2**63) and isinstance(metadata["m"], int)
    assert metadata["t"] == [1, 2]
    assert metadata["1"] == "one"

    with pytest.raises(ValueError, match=r"^invalid metadata: "):
        db.add("nan", [1, 0, 0], {"x": float("nan")})
    with pytest.raises(TypeError, match=r"^invalid metadata: metadata\['x'\] is of type 'set'"):
        db.add("set", [1, 0, 0], {"x": {1, 2}})
    with pytest.raises(TypeError, match=r"^argument 'metadata': "):
        db.add("list", [1, 0, 0], metadata=[1])
    assert sorted(db.ids()) == ["big"]


@pytest.mark.parametrize(
    "vector, expected",
    [
        ([1, 2.5, True], [1.0, 2.5, 1.0]),
        ((0.5, 0.25, 0.125), [0.5, 0.25, 0.125]),
        (np.array([1.5, 2.5, 3.5], dtype=np.float64), [1.5, 2.5, 3.5]),
        (np.array([1, 2, 3], dtype=np.int64), [1.0, 2.0, 3.0]),
        (np.array([1, 0, 1], dtype=np.bool_), [1.0, 0.0, 1.0]),
        (np.arange(6, dtype=np.float32)[::2], [0.0, 2.0, 4.0]),
        (np.array([1, 2, 3], dtype=">f8"), [1.0, 2.0, 3.0]),
        (np.array([0.1, 0.2, 0.3], dtype=np.float16), [float(np.float32(np.float16(x))) for x in (0.1, 0.2, 0.3)]),
        ([np.float64(1), np.int32(2), np.float32(3)], [1.0, 2.0, 3.0]),
    ],
)
def test_vector_forms(db, vector, expected):
    db.add("v", vector)
    assert db.get("v")[0] == expected


def test_vectors_round_to_float32(db):
    db.add("r", [0.1, 1e-50, 16777217])
    assert db.get("r")[0] == [float(np.float32(0.1)), 0.0, 16777216.0]


def test_large_integers_in_arrays_round_like_float_of_each_item(db):
    values = np.array([2**53 + 1, 2**60 + 3, -(2**40) - 1], dtype=np.int64)
    db.add("i", values)
    assert db.get("i")[0] == [float(np.float32(float(int(x)))) for x in values]


@pytest.mark.parametrize(
    "bad",
    ["123", {1, 2, 3}, {"a": 1}, iter([1, 2, 3]), 5, None, [1, "2", 3], np.zeros((3, 3), np.float32)],
)
def test_vector_in_neither_form_is_a_type_error_naming_the_argument(db, bad):
    with pytest.raises(TypeError) as err:
        db.add("a", bad)
    assert str(err.value).startswith("argument 'vector': ")
    assert "VectorInput" in str(err.value)
    assert len(db) == 0


def test_wrong_dimension(db):
    with pytest.raises(ValueError) as err:
        db.add("a", [1, 2])
    assert str(err.value) == "dimension mismatch: expected 3, got 2"
    with pytest.raises(ValueError, match="expected 3, got 4"):
        db.upsert("a", [1, 2, 3, 4])
    assert len(db) == 0


def test_upsert_replaces_metadata_whole_and_update_keeps_what_is_absent(db):
    db.upsert("a", [1, 0, 0], {"k": 1})
    assert db.get("a") == ([1.0, 0.0, 0.0], {"k": 1})
    db.upsert("a", [0, 1, 0])
    assert db.get("a") == ([0.0, 1.0, 0.0], None)
    assert (len(db), db.total_slots) == (1, 1)

    db.update("a", metadata={"k": 2})
    db.update("a", vector=[0, 0, 1])
    db.update("a")
    assert db.get("a") == ([0.0, 0.0, 1.0], {"k": 2})
    db.update("a", None, None)
    assert db.get("a") == ([0.0, 0.0, 1.0], {"k": 2})


def test_update_of_unknown_id_reports_not_found_before_dimension(db):
    with pytest.raises(ValueError) as err:
        db.update("ghost", [1, 2])
    assert str(err.value) == "id 'ghost' not found"
    db.add("a", [1, 2, 3])
    with pytest.raises(ValueError, match="dimension mismatch: expected 3, got 2"):
        db.update("a", [1, 2])
    with pytest.raises(TypeError, match=r"^argument 'metadata': "):
        db.update("a", metadata="x")


def test_delete_membership_and_slot_counters(db):
    for i, name in enumerate("abc"):
        db.add(name, [i, 1, 0])
    assert db.delete("a") is True
    assert db.delete("a") is False
    assert "a" not in db and "b" in db
    assert (len(db), db.total_slots, db.deleted_count) == (2, 3, 1)
    with pytest.raises(ValueError, match="^id 'a' not found$"):
        db.get("a")
    db.add("a", [5, 5, 5])
    assert (len(db), db.total_slots, db.deleted_count) == (3, 4, 1)
    assert sorted(db.ids()) == ["a", "b", "c"]
    assert db.get("a")[0] == [5.0, 5.0, 5.0]


def test_id_arguments_must_be_str(db):
    for call in (lambda: db.add(1, [1, 2, 3]), lambda: db.get(b"a"), lambda: db.delete(None),
                 lambda: db.update(1.5)):
        with pytest.raises(TypeError, match=r"^argument 'id': "):
            call()
    with pytest.raises(TypeError):
        1 in db


def test_methods_check_their_arity(db):
    with pytest.raises(TypeError, match="add"):
        db.add("a")
    with pytest.raises(TypeError, match="get"):
        db.get("a", "b")
    with pytest.raises(TypeError, match="ids"):
        db.ids(None, None, 0, 1)
    with pytest.raises(TypeError, match="idx"):
        db.delete("a", idx="a")
    db.add(id="k", vector=[1, 1, 1], metadata={"x": 1})
    assert db.get(id="k")[1] == {"x": 1}


def test_properties_are_read_only(db):
    for name in ("dim", "metric", "total_slots", "deleted_count", "quantized_search"):
        with pytest.raises(AttributeError):
            setattr(db, name, 1)


def test_get_returns_fresh_objects(db):
    db.add("a", [1, 2, 3], {"k": [1]})
    first = db.get("a")
    first[0].append(9)
    first[1]["k"].append(2)
    assert db.get("a") == ([1.0, 2.0, 3.0], {"k": [1]})
    assert math.isclose(sum(db.get("a")[0]), 6.0)
