"""$or, $and, $nin, $eq and $exists in search, search_many, count and ids; ids(where, limit, offset)."""
import numpy as np
import pytest

import quarn
from conftest import clustered

# Records on a line, so that the nearest-first order from [0, 0] is the order they were added.
ROWS = [
    ("a", {"c": "red", "n": 1, "tags": ["x"]}),
    ("b", {"c": "red", "n": 1.0}),
    ("c", {"c": "blue", "n": 7, "f": True}),
    ("d", {"c": "blue", "n": 12.5, "f": 1, "o": {"k": 1}}),
    ("e", {"c": "green", "n": "7", "f": None}),
    ("f", {"n": None, "o": {"k": 2}}),
    ("g", None),
    ("h", {}),
    ("i", {"c": "red", "n": -3, "f": False}),
]


@pytest.fixture
def line(path):
    db = quarn.Database(path, dim=2, metric="l2")
    for x, (id_, metadata) in enumerate(ROWS):
        db.add(id_, [x, 0], metadata)
    return db


RED = {"c": "red"}


@pytest.mark.parametrize("where, expected", [
    ({"c": {"$eq": "red"}}, "abi"),
    ({"n": {"$eq": 1}}, "a"),                                   # 1 and 1.0 stay different values
    ({"n": {"$eq": None}}, "f"),
    ({"c": {"$nin": ["red", "blue"]}}, "efh"),                  # a missing field is not in the list
    ({"n": {"$nin": [1, "7", None]}}, "bcdhi"),
    ({"c": {"$nin": []}}, "abcdefhi"),                          # every record with metadata
    ({"f": {"$exists": True}}, "cdei"),                         # present, even when None
    ({"f": {"$exists": False}}, "abfh"),
    ({"o": {"$exists": True}, "c": {"$exists": False}}, "f"),
    ({"$or": [RED, {"f": True}]}, "abci"),
    ({"$or": [{"c": "blue"}, {"n": {"$lt": 0}}]}, "cdi"),
    ({"$or": [RED]}, "abi"),
    ({"$or": []}, ""),                                          # no branch: nothing matches
    ({"$and": []}, "abcdefhi"),                                 # no condition: every record with metadata
    ({"$and": [RED, {"n": {"$gte": 0}}]}, "ab"),
    ({"$or": [RED, {"c": "blue"}], "n": {"$nin": [1, 7]}}, "bdi"),
    ({"$or": [{"$and": [{"$or": [RED, {"o": {"$exists": True}}]}, {"n": {"$gt": 5}}]}, {"c": "green"}]}, "de"),
    ({"$and": [{"$or": [RED, {"c": "blue"}]}, {"$or": [{"f": {"$exists": False}}, {"f": 1}]}]}, "abd"),
    ({"c": {"$in": ["red"], "$nin": ["red"]}}, ""),
])
def test_operators_agree_in_search_count_and_ids(line, where, expected):
    expected = list(expected)
    assert [h.id for h in line.search([0, 0], k=20, where_filter=where)] == expected
    assert line.count(where) == len(expected)
    assert line.ids(where=where) == expected
    assert [[h.id for h in r] for r in line.search_many([[0, 0], [20, 0]], k=20, where_filter=where)] == [
        expected, expected[::-1]]


def test_nesting_to_any_reasonable_depth(line):
    where = RED
    for _ in range(99):
        where = {"$or": [where]} if len(str(where)) % 2 else {"$and": [where]}
    assert line.ids(where=where) == ["a", "b", "i"]


def _deep():
    where = {"c": "red"}
    for _ in range(101):
        where = {"$or": [where]}
    return where


def _self_containing():
    branches = []
    branches.append({"$or": branches})
    return {"$or": branches}


@pytest.mark.parametrize("where, message", [
    ({"$or": {"c": "red"}}, "$or value must be a list of filter dicts, not 'dict'"),
    ({"$and": "c"}, "$and value must be a list of filter dicts, not 'str'"),
    ({"$or": ({"c": "red"},)}, "$or value must be a list of filter dicts, not 'tuple'"),
    ({"$or": [RED, 1]}, "$or[1] must be a filter dict, not 'int'"),
    ({"$and": [RED, {"$or": [None]}]}, "$or[0] must be a filter dict, not 'NoneType'"),
    ({"$xyz": 1}, "unknown operator: $xyz"),
    ({"$OR": [RED]}, "unknown operator: $OR"),
    ({"$or": [{"c": {"$xyz": 1}}]}, "unknown operator: $xyz"),
    ({"c": {"$or": [RED]}}, "unknown operator: $or"),
    ({"c": {"$nin": ("red",)}}, "$nin value must be a list"),
    ({"c": {"$nin": [["red"]]}}, "unsupported filter value type"),
    ({"c": {"$eq": [1]}}, "unsupported filter value type"),
    ({"c": {"$exists": 1}}, "$exists value must be True or False"),
    ({"c": {"$exists": None}}, "$exists value must be True or False"),
    (_deep(), "filter nested deeper than 100 levels"),
    (_self_containing(), "filter nested deeper than 100 levels"),
])
def test_malformed_filters_name_the_operator(line, where, message):
    for call in (lambda: line.search([0, 0], where_filter=where), lambda: line.count(where),
                 lambda: line.ids(where=where), lambda: line.search_many([[0, 0]], where_filter=where)):
        with pytest.raises(ValueError) as err:
            call()
        assert str(err.value) == message


@pytest.mark.parametrize("kwargs, expected", [
    ({}, "abcdefghi"),
    ({"limit": 0}, ""),
    ({"limit": 3}, "abc"),
    ({"offset": 7}, "hi"),
    ({"offset": 2, "limit": 2}, "cd"),
    ({"offset": 9}, ""),
    ({"offset": 100, "limit": 5}, ""),
    ({"limit": None, "offset": 0}, "abcdefghi"),
    ({"limit": np.int64(2), "offset": np.uint8(1)}, "bc"),
    ({"where": RED, "offset": 1}, "bi"),
    ({"where": RED, "limit": 1, "offset": 2}, "i"),
    ({"where": {"$or": []}, "limit": 5}, ""),
])
def test_ids_slices_the_insertion_order(line, kwargs, expected):
    assert line.ids(**kwargs) == list(expected)


def test_ids_order_survives_updates_deletes_and_compaction(line):
    line.upsert("c", [2, 0], {"c": "red"})      # replaced in place
    line.update("a", metadata={"c": "pink"})
    line.delete("b")
    line.add("b", [50, 0], {"c": "red"})         # added again: last
    assert line.ids() == list("acdefghib")
    assert line.ids(where=RED) == list("cib")
    line.compact()
    assert line.ids() == list("acdefghib") and line.ids(where=RED, offset=1) == list("ib")


@pytest.mark.parametrize("kwargs, error, message", [
    ({"limit": -1}, ValueError, "limit must be >= 0, got -1"),
    ({"offset": -5}, ValueError, "offset must be >= 0, got -5"),
    ({"offset": np.int64(-2)}, ValueError, "offset must be >= 0, got -2"),
    ({"limit": "3"}, TypeError, "argument 'limit': "),
    ({"offset": 1.5}, TypeError, "argument 'offset': "),
    ({"where": "c"}, TypeError, "argument 'where': "),
    ({"where_filter": RED}, TypeError, "ids() got an unexpected keyword argument 'where_filter'"),
])
def test_ids_arguments(line, kwargs, error, message):
    with pytest.raises(error) as err:
        line.ids(**kwargs)
    assert str(err.value).startswith(message)


def test_one_record_set_written_three_ways(path, rng):
    """$or of equalities, $nin of the rest and $in reach the same records in count, ids and search."""
    data, labels = clustered(rng, 6000, 48)
    db = quarn.Database(path, dim=48)
    metas = [{"label": int(x), "odd": True} if i % 2 else {"label": int(x)} for i, x in enumerate(labels)]
    db.add_many([f"v{i}" for i in range(len(data))], data, metas)
    wanted = {1, 2, 3}
    mask = np.isin(labels, list(wanted)) & (np.arange(len(data)) % 2 == 1)
    forms = [
        {"$and": [{"$or": [{"label": v} for v in sorted(wanted)]}, {"odd": {"$exists": True}}]},
        {"label": {"$nin": [v for v in range(16) if v not in wanted]}, "odd": True},
        {"$or": [{"label": {"$in": sorted(wanted)}, "odd": {"$eq": True}}]},
    ]
    for where in forms:
        assert db.count(where) == int(mask.sum())
        assert db.ids(where=where) == [f"v{i}" for i in np.flatnonzero(mask)]
        for query in data[:5] + 0.01:
            hits = db.search(query, k=10, where_filter=where)
            assert len(hits) == 10 and all(mask[int(h.id[1:])] for h in hits)
