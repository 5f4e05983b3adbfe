"""The sharded collection's pure parts, without actors: merging the shards' hits, the shards'
answers around ties at the k-th hit, and paging over the shards' lists."""
import math

import numpy as np
import pytest

pytest.importorskip("ray", reason="Ray is not installed (pip install 'quarn[ray]')")

from quarn.distributed import _nearest  # noqa: E402
from quarn.distributed._results import merge, merge_arrays, order_key  # noqa: E402
from quarn.distributed._routing import page  # noqa: E402

MERGES = [
    # (hits per shard, k, expected ids): ascending distance, NaN last, equal distances by id.
    ([[("b", 0.5), ("d", 2.0)], [("a", 0.5), ("c", 1.0)]], 3, ["a", "b", "c"]),
    ([[("x", math.nan), ("y", 3.0)], [("z", 1.0)]], 5, ["z", "y", "x"]),
    ([[("p", 1.0)], [], [("q", 0.0)]], 1, ["q"]),
    ([[], []], 4, []),
    ([[("m", -1.0), ("k", -1.0)], [("l", -1.0)]], 2, ["k", "l"]),
    ([[("n2", math.nan), ("n1", math.nan)], [("a", math.inf)]], 3, ["a", "n1", "n2"]),
]


@pytest.mark.parametrize("parts, k, expected", MERGES)
def test_merge_orders_like_the_engine(parts, k, expected):
    parts = [[(id_, d, None) for id_, d in part] for part in parts]
    assert [h.id for h in merge(parts, k)] == expected


def _engine_order(hits, rng):
    """Ascending with NaN last, equal distances in an arbitrary order, as a shard may give them."""
    hits = list(hits)
    rng.shuffle(hits)
    return sorted(hits, key=lambda h: (math.isnan(h[1]), 0.0 if math.isnan(h[1]) else h[1]))


def _as_arrays(lists, extra=0):
    """search_many_arrays' form of per-query hit lists, padded with '' and inf (and extra columns)."""
    width = max([len(h) for h in lists], default=0) + extra
    ids = np.full((len(lists), width), "", dtype="<U8")
    distances = np.full((len(lists), width), np.inf, dtype=np.float32)
    for row, hits in enumerate(lists):
        for column, (id_, d, _) in enumerate(hits):
            ids[row, column], distances[row, column] = id_, d
    return ids, distances, np.array([len(h) for h in lists], dtype=np.int64)


def _random_shards(rng, shards, queries, per_shard):
    """Per shard and query, hits with many equal distances, a few NaN and inf."""
    values = np.array([0.0, 0.5, 1.0, 1.0, 2.0, math.inf, math.nan], dtype=np.float32)
    out = []
    for s in range(shards):
        lists = []
        for q in range(queries):
            n = int(rng.integers(0, per_shard + 1))
            hits = [(f"s{s}q{q}-{i}", float(rng.choice(values)), None) for i in range(n)]
            lists.append(_engine_order(hits, rng))
        out.append(lists)
    return out


@pytest.mark.parametrize("shards, queries, k", [(3, 6, 4), (2, 5, 1), (4, 3, 50), (1, 4, 3), (3, 0, 5), (2, 3, 0)])
def test_merged_arrays_equal_the_merged_lists(shards, queries, k):
    rng = np.random.default_rng(shards * 100 + k)
    parts = _random_shards(rng, shards, queries, per_shard=8)
    size = 20
    ids, distances, counts = merge_arrays([_as_arrays(p, extra=s % 2) for s, p in enumerate(parts)], k, size)
    width = min(k, size)
    assert ids.shape == distances.shape == (queries, width) and distances.dtype == np.float32
    for q in range(queries):
        expected = merge([p[q] for p in parts], k)
        assert counts[q] == len(expected)
        assert list(ids[q, :counts[q]]) == [h.id for h in expected]
        np.testing.assert_array_equal(distances[q, :counts[q]], np.float32([h.distance for h in expected]))
        assert set(ids[q, counts[q]:]) <= {""} and np.all(distances[q, counts[q]:] == np.inf)
    longest = max((len(i) for i in ids.ravel()), default=0)
    assert ids.dtype == np.dtype(f"<U{max(longest, 1)}")


def _comparable(hits):
    return [(str(id_), repr(float(d))) for id_, d, _ in hits]  # NaN equals NaN by its text


class _FakeShard:
    """A shard's engine: the want nearest of fixed distances, equal ones in an arbitrary order."""

    def __init__(self, rng, hits):
        self.rng, self.hits = rng, hits

    def search_many(self, queries, want):
        return [_engine_order(self.hits[q], self.rng)[:want] for q in queries]

    def search_many_arrays(self, queries, want):
        return _as_arrays(self.search_many(list(queries), want))


@pytest.mark.parametrize("k", [1, 3, 7, 40])
@pytest.mark.parametrize("form", ["lists", "arrays"])
def test_shards_cut_in_a_run_of_equal_distances_still_merge_to_the_smallest_ids(form, k):
    rng = np.random.default_rng(k)
    shards, queries = 3, 8
    everything = _random_shards(rng, shards, queries, per_shard=30)
    answers = []
    for hits in everything:
        shard = _FakeShard(rng, hits)
        size = max(len(h) for h in hits)
        if form == "lists":
            answers.append(_nearest.hit_lists(shard.search_many, list(range(queries)), k, size))
        else:
            ids, distances, counts = _nearest.hit_arrays(shard.search_many_arrays, np.arange(queries), k, size)
            answers.append([[(ids[q, c], float(distances[q, c]), None) for c in range(counts[q])]
                            for q in range(queries)])
    for q in range(queries):
        brute = sorted((h for hits in everything for h in hits[q]), key=order_key)[:k]
        assert _comparable(merge([a[q] for a in answers], k)) == _comparable(brute)


PAGES = [
    # (matching ids per shard, offset, limit, {shard: (offset, limit)})
    ([5, 3, 4], 0, None, {0: (0, 5), 1: (0, 3), 2: (0, 4)}),
    ([5, 3, 4], 0, 2, {0: (0, 2)}),
    ([5, 3, 4], 4, 3, {0: (4, 1), 1: (0, 2)}),
    ([5, 3, 4], 5, None, {1: (0, 3), 2: (0, 4)}),
    ([5, 0, 4], 5, 10, {2: (0, 4)}),
    ([5, 3, 4], 12, 1, {}),
    ([5, 3, 4], 40, None, {}),
    ([5, 3, 4], 2, 0, {}),
    ([0, 0], 0, None, {}),
]


@pytest.mark.parametrize("counts, offset, limit, expected", PAGES)
def test_page_over_shards_is_a_slice_of_their_lists_end_to_end(counts, offset, limit, expected):
    plan = page(counts, offset, limit)
    assert plan == expected
    end_to_end = [(s, i) for s, n in enumerate(counts) for i in range(n)]
    stop = None if limit is None else offset + limit
    assert [(s, i) for s, (o, n) in sorted(plan.items()) for i in range(o, o + n)] == end_to_end[offset:stop]
