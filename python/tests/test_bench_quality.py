"""The filtered quality set: each case's where (given to quarn and ChromaDB) selects the records its
mask (given to the other peers and the ground truth) does, at the selectivity and correlation it is
named for."""
import os
import sys

import pytest

np = pytest.importorskip("numpy")
quarn = pytest.importorskip("quarn")

sys.path.insert(0, os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))

from bench import datasets as bd  # noqa: E402
from bench import search_quality as sq  # noqa: E402

SELECTIVITY = {"0.1%": 0.001, "1%": 0.01, "10%": 0.10, "50%": 0.50}


@pytest.fixture(scope="module")
def filtered_set(tmp_path_factory):
    base, _, which, qwhich, centres = bd.gaussian_clusters(10_000, 4, 4, 100, 3.0, seed=13)
    db = quarn.Database(str(tmp_path_factory.mktemp("db") / "db"), dim=4)
    db.add_many([str(i) for i in range(len(base))], base, sq.filter_metadata(which))
    return db, which, qwhich, sq.filter_cases(which, qwhich, centres, len(base))


def test_every_where_counts_the_records_of_its_mask(filtered_set):
    db, _, _, cases = filtered_set
    assert len(cases) == 12
    for name, wheres, masks in cases:
        for where, mask in zip(wheres, masks):
            assert db.count(where) == int(mask.sum()), (name, where)


def test_cases_keep_their_selectivity_and_follow_or_avoid_the_query_cluster(filtered_set):
    _, which, qwhich, cases = filtered_set
    for name, _, masks in cases:
        corr, sel = name.split()
        for qc, mask in zip(qwhich, masks):
            assert 0.5 < mask.mean() / SELECTIVITY[sel] < 2, name  # clusters differ in size
            own = mask[which == qc]
            if corr == "correlated" and sel != "0.1%":
                assert own.all(), name
            if corr == "anti":
                assert not own.any(), name
