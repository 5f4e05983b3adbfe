"""search, search_many and count: exact answers on small collections, filters, max_distance, inputs."""
import math

import numpy as np
import pytest

import quarn
from conftest import brute_force, clustered


@pytest.fixture
def shop(path):
    """Eight records with mixed metadata, two without any."""
    db = quarn.Database(path, dim=2, metric="l2")
    rows = [
        ("a", [0, 0], {"color": "red", "price": 5, "n": 1}),
        ("b", [1, 0], {"color": "red", "price": 15, "n": 1.0}),
        ("c", [2, 0], {"color": "blue", "price": 25, "flag": True}),
        ("d", [3, 0], {"color": "blue", "price": 35.5, "flag": 1}),
        ("e", [4, 0], {"color": "green", "price": "40"}),
        ("f", [5, 0], {"price": None, "tags": ["x"]}),
        ("g", [6, 0], None),
        ("h", [7, 0], None),
    ]
    for id_, vector, metadata in rows:
        db.add(id_, vector, metadata)
    return db


def ids(results):
    return [r.id for r in results]


@pytest.mark.parametrize("metric", ["cosine", "euclidean", "dot_product"])
def test_small_collections_return_the_exact_nearest_in_ascending_order(path, rng, metric):
    data, _ = clustered(rng, 500, 24)
    db = quarn.Database(path, dim=24, metric=metric)
    db.add_many([f"v{i}" for i in range(len(data))], data)
    for query in data[:5] + 0.01:
        expected = brute_force(data, query, metric)
        order = np.argsort(expected, kind="stable")[:10]
        hits = db.search(query, k=10)
        assert ids(hits) == [f"v{i}" for i in order]
        distances = [h.distance for h in hits]
        assert distances == sorted(distances)
        np.testing.assert_allclose(distances, expected[order], rtol=1e-4, atol=1e-4)


def test_k_zero_and_k_beyond_the_collection(shop):
    assert shop.search([0, 0], k=0) == []
    assert shop.search([0, 0], k=0, where_filter={"color": "red"}) == []
    assert ids(shop.search([0, 0], k=100)) == list("abcdefgh")
    assert ids(shop.search([0, 0], k=100, where_filter={"color": "blue"})) == ["c", "d"]


def test_empty_database_and_all_deleted_give_empty_results(path):
    db = quarn.Database(path, dim=2)
    assert db.search([1, 0]) == [] and db.search_many([[1, 0], [0, 1]]) == [[], []] and db.count() == 0
    db.add("a", [1, 0], {"x": 1})
    db.delete("a")
    assert db.search([1, 0]) == [] and db.count({"x": 1}) == 0 and db.count() == 0


@pytest.mark.parametrize(
    "where, expected",
    [
        ({"color": "red"}, "ab"),
        ({"color": {"$ne": "red"}}, "cdef"),
        ({"color": {"$in": ["blue", "green", 7]}}, "cde"),
        ({"color": {"$in": []}}, ""),
        ({"price": {"$gte": 15, "$lt": 35.5}}, "bc"),
        ({"price": {"$gt": 5}, "color": "blue"}, "cd"),
        ({"price": {"$lte": 5.0}}, "a"),
        ({"n": 1}, "a"),
        ({"n": 1.0}, "b"),
        ({"n": {"$gte": 1}}, "ab"),
        ({"flag": True}, "c"),
        ({"flag": 1}, "d"),
        ({"flag": {"$gt": 0}}, "d"),
        ({"price": {"$gt": True}}, "abcd"),
        ({"price": None}, "f"),
        ({"price": float("nan")}, "f"),
        ({"tags": {"$ne": "x"}}, "abcdef"),
        ({"missing": {"$ne": 1}}, "abcdef"),
        ({"color": "red", "price": {}}, "ab"),
        ({"color": np.str_("red"), "n": np.int64(1)}, "a"),
    ],
)
def test_filters_search_and_count_agree(shop, where, expected):
    assert ids(shop.search([0, 0], k=10, where_filter=where)) == list(expected)
    assert shop.count(where) == len(expected)
    assert [ids(r) for r in shop.search_many([[0, 0], [9, 0]], k=10, where_filter=where)] == [
        list(expected), list(reversed(expected))]


def test_records_without_metadata_never_match_a_filter(shop):
    assert shop.count({}) in (0, 6)  # an empty filter selects nothing or every record with metadata
    assert "g" not in ids(shop.search([6, 0], k=10, where_filter={"zzz": {"$ne": 0}}))
    assert shop.count({"zzz": {"$ne": 0}}) == 6


def test_deleted_records_are_never_found_or_counted(shop):
    shop.delete("a")
    assert ids(shop.search([0, 0], k=2, where_filter={"color": "red"})) == ["b"]
    assert shop.count({"color": "red"}) == 1 and shop.count() == 7


@pytest.mark.parametrize(
    "where, message",
    [
        ({"x": {"$in": (1, 2)}}, "$in value must be a list"),
        ({"x": {"$in": "ab"}}, "$in value must be a list"),
        ({"x": {"$gt": "5"}}, "$gt value must be a number"),
        ({"x": {"$gte": None}}, "$gte value must be a number"),
        ({"x": {"$lt": [1]}}, "$lt value must be a number"),
        ({"x": {"$lte": {}}}, "$lte value must be a number"),
        ({"x": {"$EQ": 1}}, "unknown operator: $EQ"),
        ({"$odd": 1}, "unknown operator: $odd"),
        ({"x": {"$NE": 1}}, "unknown operator: $NE"),
        ({"x": {"$or": []}}, "unknown operator: $or"),
        ({"x": [1, 2]}, "unsupported filter value type"),
        ({"x": (1,)}, "unsupported filter value type"),
        ({"x": {"$ne": {"a": 1}}}, "unsupported filter value type"),
        ({"x": {"$in": [[1]]}}, "unsupported filter value type"),
        ({"x": {"$in": [1, object()]}}, "unsupported filter value type"),
        ({"ok": 1, "x": {"$gt": 1, "$bad": 2}}, "unknown operator: $bad"),
    ],
)
def test_bad_filters_raise_value_error_everywhere(shop, where, message):
    for call in (lambda: shop.search([0, 0], where_filter=where), lambda: shop.search_many([[0, 0]], where_filter=where),
                 lambda: shop.count(where)):
        with pytest.raises(ValueError) as err:
            call()
        assert str(err.value) == message


def test_filter_keys_and_operators_must_be_str(shop):
    with pytest.raises(TypeError) as err:
        shop.count({1: "a"})
    assert str(err.value) == "'int' object cannot be converted to 'PyString'"
    with pytest.raises(TypeError) as err:
        shop.search([0, 0], where_filter={"x": {2.5: 1}})
    assert str(err.value) == "'float' object cannot be converted to 'PyString'"
    for call in (lambda: shop.count([("a", 1)]), lambda: shop.search([0, 0], where_filter="color")):
        with pytest.raises(TypeError, match=r"^argument 'where_filter': "):
            call()


def test_check_order_conversion_then_filter_then_dimension(shop):
    with pytest.raises(ValueError, match="dimension mismatch: expected 2, got 3"):
        shop.search([0, 0, 0])
    with pytest.raises(ValueError, match="unknown operator"):
        shop.search([0, 0, 0], where_filter={"x": {"$bad": 1}})
    with pytest.raises(TypeError, match=r"^argument 'vector': "):
        shop.search("00", where_filter={"x": {"$bad": 1}})
    with pytest.raises(ValueError, match="dimension mismatch: expected 2, got 1"):
        shop.search_many([[0, 0], [1]])


def test_scalar_search_arguments(shop):
    with pytest.raises(OverflowError):
        shop.search([0, 0], k=-1)
    with pytest.raises(OverflowError):
        shop.search([0, 0], ef_search=-5)
    with pytest.raises(TypeError, match=r"^argument 'k': "):
        shop.search([0, 0], k=2.0)
    with pytest.raises(TypeError, match=r"^argument 'k': "):
        shop.search([0, 0], k=None)
    with pytest.raises(TypeError, match=r"^argument 'max_distance': "):
        shop.search([0, 0], max_distance="1")
    assert ids(shop.search([0, 0], 2, 50, None, None)) == ["a", "b"]
    assert ids(shop.search(vector=[0, 0], k=np.int64(3), ef_search=np.uint8(7))) == ["a", "b", "c"]


def test_max_distance_cuts_after_the_k_limit(shop):
    # Euclidean distances are squared: 0, 1, 4, 9, ...
    assert ids(shop.search([0, 0], k=10, max_distance=4)) == ["a", "b", "c"]
    assert ids(shop.search([0, 0], k=10, max_distance=3.99)) == ["a", "b"]
    assert ids(shop.search([0, 0], k=2, max_distance=100)) == ["a", "b"]
    assert shop.search([0, 0], k=10, max_distance=float("nan")) == []
    assert ids(shop.search([0, 0], max_distance=np.float32(1))) == ["a", "b"]
    assert ids(shop.search([0, 0], where_filter={"color": "blue"}, max_distance=5)) == ["c"]
    assert [ids(r) for r in shop.search_many([[0, 0], [7, 0]], k=3, max_distance=1)] == [["a", "b"], ["h", "g"]]


def test_search_many_matches_single_searches(path, rng):
    data, labels = clustered(rng, 800, 16)
    db = quarn.Database(path, dim=16)
    db.add_many([f"v{i}" for i in range(len(data))], data, [{"label": int(x)} for x in labels])
    queries = data[::100] + 0.05
    for where in (None, {"label": {"$in": [1, 2, 3]}}):
        batch = db.search_many(queries, k=7, where_filter=where)
        assert len(batch) == len(queries)
        for query, hits in zip(queries, batch):
            single = db.search(query, k=7, where_filter=where)
            assert [(h.id, h.distance) for h in hits] == [(h.id, h.distance) for h in single]
    assert db.search_many([]) == []
    assert db.search_many(np.zeros((0, 16), np.float32)) == []


def test_batch_query_forms(path):
    db = quarn.Database(path, dim=3, metric="l2")
    db.add_many(["x", "y", "z"], [[1, 0, 0], [0, 1, 0], [0, 0, 1]])
    expected = [["x"], ["y"], ["z"]]
    eye = np.eye(3, dtype=np.float32)
    for queries in (eye, np.eye(3), eye.tolist(), tuple(map(tuple, eye.tolist())), [eye[0], (0, 1, 0), [0, 0, 1.0]]):
        assert [ids(r) for r in db.search_many(queries, k=1)] == expected
    for bad in ("abc", [[1, 0, 0], "xyz"], 3, [{1, 2, 3}]):
        with pytest.raises(TypeError, match=r"^argument 'vectors': .*BatchVectorInput"):
            db.search_many(bad)


def test_count(shop):
    assert shop.count() == 8 and shop.count(None) == 8 and shop.count(where_filter=None) == 8
    assert shop.count(where_filter={"color": "red", "price": {"$gt": 10}}) == 1
    with pytest.raises(TypeError, match="count"):
        shop.count({}, {})


def test_search_results_carry_metadata_copies(shop):
    hit = shop.search([2, 0], k=1)[0]
    assert (hit.id, hit.metadata) == ("c", {"color": "blue", "flag": True, "price": 25})
    shop.update("c", metadata={"color": "pink"})
    assert hit.metadata["color"] == "blue"
    assert shop.search([2, 0], k=1)[0].metadata == {"color": "pink"}
    assert shop.search([6, 0], k=1)[0].metadata is None


def test_distances_are_widened_float32(path):
    db = quarn.Database(path, dim=2, metric="dot")
    db.add("a", [0.1, 0.7])
    hit = db.search([0.3, 0.3], k=1)[0]
    assert hit.distance == float(np.float32(hit.distance))
    assert math.isclose(hit.distance, -(0.1 * 0.3 + 0.7 * 0.3), rel_tol=1e-6)
