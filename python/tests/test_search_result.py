"""The SearchResult class: attributes, repr, subscripts and unpacking."""
import numpy as np
import pytest

import quarn


@pytest.fixture
def hits(path):
    db = quarn.Database(path, dim=2, metric="l2")
    db.add("it's", [0, 0], {"b": [1, 2], "a": None})
    db.add("plain", [3, 4])
    return db.search([0, 0.5], k=2)


def test_attributes_and_subscripts_agree(hits):
    r, s = hits
    assert (r.id, r.distance, r.metadata) == ("it's", 0.25, {"a": None, "b": [1, 2]})
    assert (r[0], r[1], r[2]) == (r.id, r.distance, r.metadata)
    assert r[True] == r.distance and r[np.int64(0)] == r.id
    assert s.metadata is None and s[2] is None
    assert isinstance(r.distance, float) and r.distance == float(np.float32(r.distance))


def test_metadata_is_parsed_anew_at_every_access(hits):
    r = hits[0]
    first = r.metadata
    assert first is not r.metadata and first == r.metadata
    first["b"].append(3)
    r[2]["a"] = "changed"
    assert r.metadata == {"a": None, "b": [1, 2]}


def test_unpacking_and_iteration_use_the_subscript_protocol(hits):
    id_, distance, metadata = hits[0]
    assert (id_, distance, metadata) == ("it's", 0.25, {"a": None, "b": [1, 2]})
    assert list(hits[1]) == ["plain", hits[1].distance, None]
    assert not hasattr(quarn.SearchResult, "__iter__")
    with pytest.raises(ValueError):
        a, b = hits[0]


def test_bad_subscripts(hits):
    r = hits[0]
    with pytest.raises(IndexError) as err:
        r[3]
    assert str(err.value) == "SearchResult index out of range"
    for index in (2**40, -4, -(2**70)):
        with pytest.raises(IndexError, match="SearchResult index out of range"):
            r[index]
    assert (r[-3], r[-2], r[-1]) == (r.id, r.distance, r.metadata) and len(r) == 3
    for key in ("0", 1.0, slice(0, 2), None):
        with pytest.raises(TypeError):
            r[key]


def test_repr_shows_the_id_unchanged_and_four_decimals(hits):
    assert repr(hits[0]) == "SearchResult(id='it's', distance=0.2500)"
    assert repr(hits[1]) == f"SearchResult(id='plain', distance={hits[1].distance:.4f})"
    assert repr(hits[1]) == "SearchResult(id='plain', distance=21.2500)"


def test_results_cannot_be_made_or_changed_from_python(hits):
    with pytest.raises(TypeError):
        quarn.SearchResult()
    with pytest.raises(TypeError):
        type(hits[0])("x", 1.0, None)
    r = hits[0]
    for name in ("id", "distance", "metadata"):
        with pytest.raises(AttributeError):
            setattr(r, name, 1)
    with pytest.raises(AttributeError):
        r.other = 1


def test_results_outlive_their_database(path):
    db = quarn.Database(path, dim=2)
    db.add("a", [1, 0], {"k": "v"})
    hit = db.search([1, 0])[0]
    del db
    assert (hit.id, hit.metadata) == ("a", {"k": "v"})
