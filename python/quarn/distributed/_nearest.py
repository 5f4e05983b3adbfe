"""A shard's side of a search: its hits for the merge, with every hit that ties with its k-th.

Each shard answers with its own k best, and the caller merges them ordering equal distances by
id. A shard that cut its list inside a run of equal distances would drop ids the merge should
prefer, so a shard asks for one hit more than k and, while that one still ties with the k-th,
for twice as many; the merge then cuts the lists to k.
"""

from __future__ import annotations

import numpy as np


def _tied(a, b) -> bool:
    return a == b or (a != a and b != b)  # NaN ties with NaN: the engine puts every NaN last


def _cut_in_ties(hits: list, k: int, want: int) -> bool:
    return len(hits) == want and _tied(hits[k - 1][1], hits[-1][1])


def hit_lists(search_many, queries, k: int, size: int) -> list:
    """search_many(queries, k) -> a list of (id, distance, metadata) lists, ascending."""
    if k == 0 or k >= size:
        return search_many(queries, k)
    want = k + 1
    out = search_many(queries, want)
    todo = [q for q, hits in enumerate(out) if _cut_in_ties(hits, k, want)]
    while todo:
        want *= 2
        again = search_many([queries[q] for q in todo], want)
        for q, hits in zip(todo, again):
            out[q] = hits
        todo = [q for q, hits in zip(todo, again) if _cut_in_ties(hits, k, want)]
    return out


def _open_rows(distances: np.ndarray, counts: np.ndarray, k: int, want: int) -> np.ndarray:
    full = np.flatnonzero(counts == want)
    if full.size == 0:
        return full
    kth, last = distances[full, k - 1], distances[full, want - 1]
    return full[(kth == last) | (np.isnan(kth) & np.isnan(last))]


def hit_arrays(search_many_arrays, queries: np.ndarray, k: int, size: int) -> tuple:
    """search_many_arrays(queries, k) -> (ids, distances, counts) padded with '' and inf; rows may
    come back wider than k where they end in ties."""
    if k == 0 or k >= size:
        return tuple(search_many_arrays(queries, k))
    want = k + 1
    ids, distances, counts = search_many_arrays(queries, want)
    counts = counts.copy()
    todo = _open_rows(distances, counts, k, want)
    while todo.size:
        want *= 2
        more_ids, more_distances, more_counts = search_many_arrays(queries[todo], want)
        width = max(ids.shape[1], more_ids.shape[1])
        ids = _widen(ids, width, np.promote_types(ids.dtype, more_ids.dtype), "")
        distances = _widen(distances, width, np.float32, np.inf)
        ids[todo, :more_ids.shape[1]] = more_ids
        distances[todo, :more_distances.shape[1]] = more_distances
        counts[todo] = more_counts
        todo = todo[_open_rows(more_distances, more_counts, k, want)]
    return ids, distances, counts


def _widen(array: np.ndarray, width: int, dtype, fill) -> np.ndarray:
    out = np.full((array.shape[0], width), fill, dtype=dtype)
    out[:, :array.shape[1]] = array
    return out
