"""Merging the shards' hits into the answer one database gives: ascending distance, NaN after
every number, equal distances by id (so that the order does not depend on which shard answered
first), cut to k."""

from __future__ import annotations

import math
from typing import NamedTuple, Optional

import numpy as np


class _Hit(NamedTuple):
    id: str
    distance: float
    metadata: Optional[dict]


class SearchResult(_Hit):
    """One hit of a sharded search; unpacks and indexes like ``quarn.SearchResult`` (id, distance,
    metadata), with ``.document`` filled when the search asked for documents."""

    _document: Optional[str]

    def __new__(cls, id: str, distance: float, metadata: Optional[dict], document: Optional[str] = None):
        hit = super().__new__(cls, id, distance, metadata)
        hit._document = document
        return hit

    @property
    def document(self) -> Optional[str]:
        return self.__dict__.get("_document")

    def __reduce__(self):
        return (SearchResult, (self.id, self.distance, self.metadata, self._document))

    def __repr__(self) -> str:
        return f"SearchResult(id='{self.id}', distance={self.distance:.4f})"


def order_key(hit: tuple) -> tuple:
    distance = hit[1]
    return (math.isnan(distance), distance if not math.isnan(distance) else 0.0, hit[0])


def merge(parts: list, k: int) -> list:
    """One list of at most k SearchResults from the shards' lists of (id, distance, metadata)."""
    hits = [hit for part in parts for hit in part]
    hits.sort(key=order_key)
    return [SearchResult(*hit) for hit in hits[:k]]


def merge_arrays(parts: list, k: int, size: int) -> tuple:
    """(ids, distances, counts) of the shards merged as one database's ``search_many_arrays`` would
    give them: k columns, or ``size`` (the records in the collection) when that is fewer."""
    rows = len(parts[0][2]) if parts else 0
    width = min(k, size)
    if rows == 0 or width == 0:
        return np.full((rows, width), "", dtype="<U1"), np.full((rows, width), np.inf, np.float32), \
            np.zeros(rows, np.int64)
    ids = np.concatenate([p[0] for p in parts], axis=1)
    distances = np.concatenate([p[1] for p in parts], axis=1)
    columns = np.arange(ids.shape[1])
    starts = np.cumsum([0] + [p[0].shape[1] for p in parts[:-1]])
    padding = np.ones(ids.shape, dtype=bool)
    for start, part in zip(starts, parts):
        padding[:, start:start + part[0].shape[1]] = columns[:part[0].shape[1]] >= part[2][:, None]
    nan = np.isnan(distances)
    order = np.lexsort((ids, np.where(nan, 0.0, distances), nan, padding), axis=-1)[:, :width]
    ids = np.take_along_axis(ids, order, axis=1)
    distances = np.take_along_axis(distances, order, axis=1)
    counts = np.minimum(sum(p[2] for p in parts), width).astype(np.int64)
    hit = columns[:width] < counts[:, None]
    ids[~hit] = ""
    distances[~hit] = np.inf
    longest = int(np.char.str_len(ids).max()) if ids.size else 1
    return ids.astype(f"<U{max(longest, 1)}"), distances.astype(np.float32), counts
