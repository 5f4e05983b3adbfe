"""Reads across the shards, each answer assembled as one database would give it.

Lists of ids (``ids``, iteration) run shard by shard, each shard's ids in the order they were
first added there: the shards keep no order between them.
"""

from __future__ import annotations

import operator
import re
from typing import Iterator, Optional

import numpy as np
import ray

import quarn
from quarn.distributed._results import merge, merge_arrays
from quarn.distributed._routing import page, split

_POSITION = re.compile(r"^ids\[(\d+)\]")


def fan_out(shards, method: str, *args, **kwargs) -> list:
    """Every shard's answer to a read, by shard; searches go to the replicas when there are some."""
    calls = {s: (lambda s=s: shards.reader(s).call.remote(method, *args, **kwargs)) for s in range(shards.count)}
    values = shards.gather(calls, method, retry=True)
    return [values[s] for s in range(shards.count)]


def _block(vectors, dim: int):
    """A checked batch of queries as one float32 block in the object store, read by every shard."""
    return ray.put(np.ascontiguousarray(np.asarray(vectors, dtype=np.float32)).reshape(-1, dim))


def search(shards, checks, vector, k, ef_search, where_filter, max_distance, include_documents=False,
           where_document=None, rerank=None) -> list:
    checks.read("search", vector, k, ef_search, where_filter, max_distance, False, include_documents,
                where_document=where_document, rerank=rerank)
    query = np.asarray(vector, dtype=np.float32)
    k = operator.index(k)
    parts = fan_out(shards, "search", query, k, ef_search=ef_search, where_filter=where_filter,
                    max_distance=max_distance, include_documents=bool(include_documents),
                    where_document=where_document, rerank=rerank)
    return merge(parts, k)


def search_many(shards, checks, vectors, k, ef_search, where_filter, max_distance, include_documents=False,
                where_document=None, rerank=None) -> list:
    checks.read("search_many", vectors, k, ef_search, where_filter, max_distance, False, include_documents,
                where_document=where_document, rerank=rerank)
    k = operator.index(k)
    parts = fan_out(shards, "search_many", _block(vectors, checks.db.dim), k, ef_search=ef_search,
                    where_filter=where_filter, max_distance=max_distance, include_documents=bool(include_documents),
                    where_document=where_document, rerank=rerank)
    return [merge([part[q] for part in parts], k) for q in range(len(parts[0]))]


def search_many_arrays(shards, checks, vectors, k, ef_search, where_filter, max_distance) -> tuple:
    checks.read("search_many_arrays", vectors, k, ef_search, where_filter, max_distance)
    k = operator.index(k)
    parts = fan_out(shards, "search_many_arrays", _block(vectors, checks.db.dim), k, ef_search=ef_search,
                    where_filter=where_filter, max_distance=max_distance)
    size = sum(part[3] for part in parts)
    return quarn.SearchArrays(*merge_arrays([part[:3] for part in parts], k, size))


def get_many(shards, checks, ids, include_vectors, include_documents=False) -> tuple:
    """The records of ids in their order; the first id missing, counted over all of ids, is named."""
    checks.write("delete_many", ids)
    checks.read("get_many", [], include_vectors, include_documents)
    include_documents = bool(include_documents)
    ids = [str(i) for i in ids]
    groups = split(ids, shards.count)
    calls = {s: (lambda s=s: shards.writers[s].call.remote("get_many", [ids[p] for p in groups[s]],
                                                            include_vectors, include_documents)) for s in groups}
    replies = shards.replies(calls, "get_many", retry=True)
    missing = []
    for s, (status, value) in replies.items():
        if status == "lost":
            raise value
        found = _POSITION.match(str(value)) if status == "err" and type(value) is ValueError else None
        if status == "err" and found is None:
            raise value
        if found is not None:
            position = int(groups[s][int(found.group(1))])
            missing.append((position, str(value)[found.end():]))
    if missing:
        position, rest = min(missing)
        raise ValueError(f"ids[{position}]{rest}")
    vectors = np.zeros((len(ids), checks.db.dim), np.float32) if include_vectors else None
    metadatas: list = [None] * len(ids)
    documents: list = [None] * len(ids)
    for s, positions in groups.items():
        part_vectors, part_metadatas, *part_documents = replies[s][1]
        if vectors is not None:
            vectors[positions] = part_vectors
        for position, metadata in zip(positions, part_metadatas):
            metadatas[position] = metadata
        for position, document in zip(positions, part_documents[0] if part_documents else ()):
            documents[position] = document
    return (vectors, metadatas, documents) if include_documents else (vectors, metadatas)


def ids(shards, checks, where, limit, offset, where_document=None) -> list:
    """Ids matching where, shard by shard; offset and limit count over that whole list."""
    checks.read("ids", where, limit, offset, where_document=where_document)
    offset = 0 if offset is None else operator.index(offset)
    limit = None if limit is None else operator.index(limit)
    if offset == 0 and limit is None:
        values = shards.each(lambda s, w: w.call.remote("ids", where, where_document=where_document), "ids",
                             retry=True)
        return [i for s in range(shards.count) for i in values[s]]
    counts = shards.each(lambda s, w: w.call.remote("count", where, where_document=where_document), "ids",
                         retry=True)
    plan = page([counts[s] for s in range(shards.count)], offset, limit)
    values = shards.each(lambda s, w: w.call.remote("ids", where, plan[s][1], plan[s][0],
                                                    where_document=where_document), "ids", plan, retry=True)
    return [i for s in sorted(plan) for i in values[s]]


def records(shards, checks, batch_size: int, include_vectors: bool) -> Iterator[quarn.Record]:
    """Every record live when the iteration starts, shard by shard, batch_size ids per call; the
    next batch is on its way while the caller works through the current one."""
    next(quarn.Database.records(checks.db, batch_size, include_vectors), None)
    listed = shards.each(lambda s, w: w.call.remote("ids"), "records", retry=True)
    batches = [(s, listed[s][i:i + batch_size]) for s in range(shards.count)
               for i in range(0, len(listed[s]), batch_size)]
    pending: Optional[tuple] = None
    for number in range(len(batches) + 1):
        ahead = None
        if number < len(batches):
            s, part = batches[number]
            ahead = (s, shards.writers[s].records.remote(part, include_vectors))
        if pending is not None:
            s, ref = pending
            present, vectors, metadatas, _ = shards.get(s, ref, "records")
            for row, (id_, metadata) in enumerate(zip(present, metadatas)):
                yield quarn.Record(id_, vectors[row] if vectors is not None else None, metadata)
        pending = ahead
