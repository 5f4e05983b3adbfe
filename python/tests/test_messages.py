"""Error messages that name the field, row, id or path involved; repr, version, batch duplicates
and progress reports."""
import datetime
import re

import numpy as np
import pytest

import quarn

METADATA_ERRORS = [
    # metadata, exception, message
    ({"price": float("nan")}, ValueError, "metadata['price'] is NaN; numbers must be finite"),
    ({"a": {"b": [1, float("-inf")]}}, ValueError, "metadata['a']['b'][1] is -inf; numbers must be finite"),
    ({"x": np.float32("inf")}, ValueError, "metadata['x'] is inf; numbers must be finite"),
    ({"when": datetime.date(2020, 1, 1)}, TypeError, "metadata['when'] is of type 'date', which JSON cannot hold"),
    ({"tags": {"a", "b"}}, TypeError, "metadata['tags'] is of type 'set', which JSON cannot hold"),
    ({"v": np.zeros(2)}, TypeError, "metadata['v'] is of type 'ndarray', which JSON cannot hold"),
    ({(1, 2): "k"}, TypeError, "metadata has the key (1, 2) of type 'tuple'; keys must be str"),
]


@pytest.mark.parametrize("metadata, error, message", METADATA_ERRORS)
def test_metadata_errors_name_the_field(db, metadata, error, message):
    with pytest.raises(error) as err:
        db.add("a", [1, 0, 0], metadata)
    assert str(err.value) == "invalid metadata: " + message
    with pytest.raises(error) as err:
        db.add_many(["a", "b"], [[1, 0, 0], [0, 1, 0]], [None, metadata])
    assert str(err.value) == "invalid metadata: " + message.replace("metadata", "metadatas[1]", 1)
    assert len(db) == 0


NUMPY_SCALARS = [
    (np.int64(7), 7, int),
    (np.int8(-3), -3, int),
    (np.uint32(9), 9, int),
    (np.float32(1.5), 1.5, float),
    (np.float64(2.25), 2.25, float),
    (np.bool_(True), True, bool),
    (np.str_("s"), "s", str),
]


@pytest.mark.parametrize("scalar, expected, kind", NUMPY_SCALARS, ids=[type(s[0]).__name__ for s in NUMPY_SCALARS])
def test_numpy_scalars_in_metadata_become_the_json_type_they_hold(db, scalar, expected, kind):
    db.add("a", [1, 0, 0], {"v": scalar, "nested": [scalar]})
    _, metadata = db.get("a")
    assert metadata == {"v": expected, "nested": [expected]} and type(metadata["v"]) is kind
    assert db.count({"v": expected}) == 1


def test_add_many_names_an_id_given_twice_and_writes_nothing(db):
    db.add("old", [1, 1, 1])
    with pytest.raises(ValueError) as err:
        db.add_many(["a", "b", "a"], np.eye(3))
    assert str(err.value) == "id 'a' appears twice in the batch (rows 0 and 2); add_many takes each id once"
    assert db.ids() == ["old"]


def test_upsert_many_keeps_the_last_occurrence_of_an_id(db):
    db.upsert_many(["a", "b", "a"], [[1, 0, 0], [0, 1, 0], [0, 0, 1]], [{"n": 1}, None, {"n": 3}])
    assert sorted(db.ids()) == ["a", "b"]
    assert db.get("a") == ([0.0, 0.0, 1.0], {"n": 3})


BATCH_ERRORS = [
    (lambda db: db.add_many(["a", "b"], [[1, 0, 0], [1, 0]]), "vectors[1]: dimension mismatch: expected 3, got 2"),
    (lambda db: db.upsert_many(["a", "b"], np.ones((2, 4))), "vectors[0]: dimension mismatch: expected 3, got 4"),
    (lambda db: db.add_many(["a"], [[1, 0, 0]], [[1]]), "metadatas[0] must be a dict or None, not 'list'"),
    (lambda db: db.get_many(["x"]), "ids[0]: id 'x' not found"),
]


@pytest.mark.parametrize("call, message", BATCH_ERRORS)
def test_batch_errors_name_the_row(db, call, message):
    with pytest.raises(ValueError) as err:
        call(db)
    assert str(err.value) == message


ARGUMENT_ERRORS = [
    (lambda db: db.add(1, [1, 0, 0]), "argument 'id': expected str, not 'int'"),
    (lambda db: db.delete_many(["a", 2]), "argument 'ids': item 1: expected str, not 'int'"),
    (lambda db: db.add("a", [1, 0, 0], [1]), "argument 'metadata': expected a dict or None, not 'list'"),
    (lambda db: quarn.Database(3.5, dim=2), "argument 'path': expected str or os.PathLike, not 'float'"),
    (lambda db: db.search([1, 0, 0], include_vectors=1), "argument 'include_vectors': expected bool, not 'int'"),
]


@pytest.mark.parametrize("call, message", ARGUMENT_ERRORS)
def test_argument_errors_name_the_argument(db, call, message):
    with pytest.raises(TypeError) as err:
        call(db)
    assert str(err.value) == message


def test_repr_says_what_the_database_holds(path):
    db = quarn.Database(path, dim=3, metric="l2")
    db.add("a", [1, 2, 3])
    assert repr(db) == f"Database(path={path!r}, dim=3, metric='euclidean', count=1)"
    db.save()
    reader = quarn.Database(path, read_only=True)
    assert repr(reader) == f"Database(path={path!r}, dim=3, metric='euclidean', count=1, read_only=True)"
    db.close()
    assert repr(db) == f"Database(path={path!r}, closed=True)"


def test_version_is_the_installed_distribution_version():
    from importlib.metadata import version

    assert re.fullmatch(r"\d+\.\d+\.\d+", quarn.__version__)
    assert quarn.__version__ == version("quarn")


def test_progress_callback_sees_every_row_and_the_result_equals_one_batch(path, rng):
    vectors = rng.normal(size=(2500, 4)).astype(np.float32)
    ids = [str(i) for i in range(2500)]
    calls = []
    db = quarn.Database(path, dim=4)
    db.add_many(ids, vectors, [{"i": i} for i in range(2500)], progress=lambda done, total: calls.append((done, total)))
    assert calls[-1] == (2500, 2500) and [d for d, _ in calls] == sorted(d for d, _ in calls) and len(calls) >= 2
    assert db.get_many(ids)[0].tolist() == vectors.tolist() and db.get("7")[1] == {"i": 7}
    calls.clear()
    db.upsert_many(ids[:1500], vectors[:1500] * 2, progress=lambda done, total: calls.append(done))
    assert calls[-1] == 1500 and db.get("3")[1] is None
    assert db.get("3")[0] == (vectors[3] * 2).tolist()


def test_progress_true_without_or_with_tqdm_writes_the_batch(path, rng, capsys):
    db = quarn.Database(path, dim=4)
    db.add_many(["a", "b"], rng.normal(size=(2, 4)), progress=True)
    assert len(db) == 2


def test_a_failing_chunk_undoes_the_chunks_written_before_it(path, rng):
    db = quarn.Database(path, dim=4)
    db.add_many(["keep"], [[1, 2, 3, 4]], [{"v": 1}])
    vectors = rng.normal(size=(3000, 4)).astype(np.float32)
    ids = [str(i) for i in range(3000)]
    bad = [None] * 3000
    bad[2900] = {"x": float("nan")}   # caught only when its chunk is converted
    with pytest.raises(ValueError, match=r"^invalid metadata: metadatas\[2900\]\[.x.\] is NaN"):
        db.add_many(ids, vectors, bad, progress=lambda *_: None)
    assert db.ids() == ["keep"]
    with pytest.raises(ValueError, match="is NaN"):
        db.upsert_many(["keep"] + ids[1:], vectors, bad, progress=lambda *_: None)
    assert db.ids() == ["keep"] and db.get("keep") == ([1.0, 2.0, 3.0, 4.0], {"v": 1})
    with pytest.raises(ValueError, match="^id 'keep' already exists"):
        db.add_many(ids[:5] + ["keep"], vectors[:6], progress=lambda *_: None)
    with pytest.raises(ValueError, match="appears twice"):
        db.add_many(["q", "q"], vectors[:2], progress=lambda *_: None)
    assert db.ids() == ["keep"]
