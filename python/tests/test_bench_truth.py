"""The benchmarks' exact answers and recall, against a plain reference: nearest first, equal
distances in row order, masks shared or per query, short answers padded."""
import itertools
import os
import sys

import pytest

np = pytest.importorskip("numpy")

sys.path.insert(0, os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))

from bench import datasets as bd  # noqa: E402


def reference(base, queries, metric, k, mask=None):
    """Sort every row by (distance, row number) in float64; -1 pads rows that match fewer than k."""
    out = []
    for qi, q in enumerate(queries.astype(np.float64)):
        b = base.astype(np.float64)
        if metric == "cosine":
            d = -(b / np.linalg.norm(b, axis=1, keepdims=True)) @ (q / np.linalg.norm(q))
        else:
            d = ((b - q) ** 2).sum(1)
        keep = np.ones(len(b), bool) if mask is None else np.asarray(mask if np.ndim(mask) == 1 else mask[qi])
        rows = sorted((d[i], i) for i in np.flatnonzero(keep))[:k]
        out.append([i for _, i in rows] + [-1] * (k - len(rows)))
    return np.array(out, np.int64)


# Integer points: distances are exact, so ties are real ties whatever the summation order.
GRID = np.array(list(itertools.product(range(3), repeat=2)) * 2, np.float32)  # every point twice
GRID_QUERIES = np.array([[1, 1], [0, 0], [2, 1], [1, 0.5]], np.float32)
rng = np.random.default_rng(5)
RANDOM = rng.normal(size=(300, 8)).astype(np.float32)
RANDOM_QUERIES = rng.normal(size=(7, 8)).astype(np.float32)
MANY_QUERIES = rng.normal(size=(600, 8)).astype(np.float32)  # more than one block of queries

CASES = [
    # name, base, queries, metric, k, mask
    ("ties cut inside a group of equal distances", GRID, GRID_QUERIES, "l2", 5, None),
    ("ties, every k", GRID, GRID_QUERIES, "l2", 17, None),
    ("ties under a shared mask", GRID, GRID_QUERIES, "l2", 3, np.arange(18) % 3 != 0),
    ("ties under a mask per query", GRID, GRID_QUERIES, "l2", 4,
     np.array([np.arange(18) % (j + 2) != 0 for j in range(4)])),
    ("cosine: one direction, several lengths", np.array([[1, 0], [2, 0], [0, 1], [3, 0], [0.5, 0]], np.float32),
     np.array([[4, 0], [0, 1]], np.float32), "cosine", 5, None),
    ("l2, random", RANDOM, RANDOM_QUERIES, "l2", 5, None),
    ("cosine, random", RANDOM, RANDOM_QUERIES, "cosine", 5, None),
    ("l2 under a shared mask", RANDOM, RANDOM_QUERIES, "l2", 5, rng.random(300) < 0.1),
    ("cosine under a shared mask", RANDOM, RANDOM_QUERIES, "cosine", 5, rng.random(300) < 0.1),
    ("a mask per query across blocks of queries", RANDOM, MANY_QUERIES, "l2", 3, rng.random((600, 300)) < 0.02),
    ("fewer matches than k", RANDOM, RANDOM_QUERIES, "l2", 4, np.arange(300) < 2),
    ("no match at all", RANDOM, RANDOM_QUERIES, "cosine", 3, np.zeros(300, bool)),
    ("some queries match nothing", RANDOM, RANDOM_QUERIES, "l2", 3, np.array([np.arange(300) < 2 * j
                                                                               for j in range(7)])),
    ("k larger than the set", GRID[:3], GRID_QUERIES, "l2", 5, None),
    ("padding after the matches", np.eye(4, dtype=np.float32), np.eye(4, dtype=np.float32)[:1], "l2", 3,
     np.array([True, False, False, True])),
]


@pytest.mark.parametrize("name, base, queries, metric, k, mask", CASES, ids=[c[0] for c in CASES])
def test_exact_knn_equals_a_sort_by_distance_then_row(name, base, queries, metric, k, mask):
    got = bd.exact_knn(base, queries, metric, k=k, mask=mask)
    assert got.dtype == np.int64 and got.shape == (len(queries), k)
    assert got.tolist() == reference(base, queries, metric, k, mask).tolist()


RECALLS = [
    # found, truth, k, expected
    ([[1, 2, 3], [4, 5]], [[1, 2, 3, -1], [4, 5, 6, 7]], 4, 5 / 7),   # padding is not wanted
    ([[3, 2, 1]], [[1, 2, 3]], 3, 1.0),                              # order does not matter
    ([[1, 1, 1]], [[1, 2, 3]], 3, 1 / 3),                            # a repeated hit counts once
    ([[9, 8, 7, 1]], [[1, 2, 3]], 3, 0.0),                           # only the first k found count
    ([[-1, -1]], [[5, -1]], 2, 0.0),                                 # the engine's own padding is no hit
    ([[]], [[-1, -1]], 2, 1.0),                                      # nothing to find: nothing missed
    ([[], [1]], [[-1, -1], [1, -1]], 2, 1.0),
    ([np.array([2, 1], np.uint64)], np.array([[1, 2]], np.int64), 2, 1.0),   # library id types
    ([[1, 2]], [[1, 2, 3, 4]], 2, 1.0),                              # recall@k of a wider truth
]


@pytest.mark.parametrize("found, truth, k, expected", RECALLS)
def test_recall_counts_distinct_true_neighbours_among_the_first_k_found(found, truth, k, expected):
    assert bd.recall(found, np.asarray(truth), k=k) == pytest.approx(expected)
