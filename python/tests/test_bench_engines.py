"""Every engine adapter the drivers measure through answers alike: each record once, nearest first,
no padding taken for a hit, filters as their masks say, the same answers after a reopen. An
engine whose library is not installed is skipped."""
import os
import sys

import pytest

np = pytest.importorskip("numpy")

sys.path.insert(0, os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))

from bench.peers import ENGINES  # noqa: E402

# Six points far apart on the unit sphere's positive side: every metric ranks them alike, and
# 8-bit codes keep them apart.
POINTS = np.array([[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, 1, 0], [0, 0, 0, 1],
                   [0.6, 0.8, 0, 0], [0, 0, 0.6, 0.8]], np.float32)
K = 10  # more than there are records: a short answer must not be padded with made-up hits


def built(name, metric, tmp_path, metas=None):
    cls = ENGINES[name]
    if not cls.available():
        pytest.skip(f"{name} not installed")
    eng = cls(POINTS.shape[1], metric, 1, str(tmp_path / name))
    eng.build(POINTS, metas)
    eng.set_ef(40)
    return eng


def nearest_first(found):
    """Each query i (= record i) finds itself first and every record exactly once."""
    return [(row[0] == i, sorted(row) == list(range(len(POINTS)))) for i, row in enumerate(found)]


@pytest.mark.parametrize("metric", ["l2", "cosine"])
@pytest.mark.parametrize("name", list(ENGINES))
def test_every_engine_returns_each_record_once_nearest_first(name, metric, tmp_path):
    eng = built(name, metric, tmp_path)
    qs = eng.prepare_queries(POINTS)
    singles = [eng.ids_one(eng.search_one(q, K)) for q in qs]
    batch = eng.ids_batch(eng.search_batch(qs, K))
    everything = [(True, True)] * len(POINTS)
    assert nearest_first(singles) == everything and nearest_first(batch) == everything
    assert all(isinstance(i, int) for row in singles + batch for i in row)


FILTERS = [
    # where, mask, expected for query 0
    ({"cat": {"$in": [1, 4]}}, np.array([0, 1, 0, 0, 1, 0], bool), [4, 1]),
    ({"cat": 5}, np.array([0, 0, 0, 0, 0, 1], bool), [5]),
    ({"cat": 9}, np.zeros(6, bool), []),
]


@pytest.mark.parametrize("where, mask, expected", FILTERS)
@pytest.mark.parametrize("name", [n for n, e in ENGINES.items() if e.supports_filter])
def test_filtered_search_keeps_only_the_matching_records(name, where, mask, expected, tmp_path):
    eng = built(name, "l2", tmp_path, metas=[{"cat": i} for i in range(len(POINTS))])
    flt = eng.make_filter({"where": where, "mask": mask})
    qs = eng.prepare_queries(POINTS[:2])
    assert eng.ids_one(eng.search_one_filtered(qs[0], K, flt)) == expected
    assert eng.ids_batch(eng.search_batch_filtered(qs, K, flt))[0] == expected


@pytest.mark.parametrize("name", [n for n, e in ENGINES.items() if not e.quantized_of])
def test_a_reopened_engine_answers_as_before_and_single_adds_go_to_a_fresh_index(name, tmp_path):
    eng = built(name, "l2", tmp_path)
    qs = eng.prepare_queries(POINTS)
    before = eng.ids_batch(eng.search_batch(qs, 3))
    assert os.path.exists(eng.save())
    eng.close()
    eng.reopen()
    assert eng.ids_batch(eng.search_batch(qs, 3)) == before
    add = eng.single_adder(len(POINTS))
    for i, v in enumerate(POINTS):
        add(i, v, None)
    assert eng.ids_batch(eng.search_batch(qs, 3)) == before


WHERES = [
    # the shared where, what ChromaDB is given (one condition per dict)
    ({"cat": 5}, {"cat": 5}),
    ({"c": {"$in": [1, 2]}}, {"c": {"$in": [1, 2]}}),
    ({"c": 3, "b": 0}, {"$and": [{"c": 3}, {"b": 0}]}),
]


@pytest.mark.parametrize("where, given", WHERES)
def test_chromadb_gets_a_where_of_several_fields_as_an_and(where, given):
    chroma = object.__new__(ENGINES["chromadb"])  # the filter needs no client
    assert chroma.make_filter({"where": where, "mask": None})["where"] == given
