"""Keyword and hybrid search across the shards, scored as one database of the whole collection.

BM25 needs the collection's statistics: the documents, their total length and, per query term,
the documents holding it. Each shard reports its share of them, the shares are added up, and
every shard then scores its own documents with the sum, so that a document scores exactly as it
would in one database holding every record. The shards' hits merge like vector hits (equal
distances by id); hybrid search fuses the merged vector and keyword rankings here, as one
database fuses its own.
"""

from __future__ import annotations

import operator

import numpy as np

from quarn.distributed import _reads
from quarn.distributed._results import SearchResult, merge

RRF_K = 60


def _sum(shares: list) -> tuple:
    """The collection's statistics from the shards' (terms, documents, total_length, frequencies)."""
    terms = shares[0][0]
    frequencies = [sum(share[3][i] for share in shares) for i in range(len(terms))]
    return (terms, sum(share[1] for share in shares), sum(share[2] for share in shares), frequencies)


def _statistics(shards, queries: list) -> list:
    """The collection's statistics of each query."""
    per_shard = _reads.fan_out(shards, "keyword_statistics_many", queries)
    return [_sum([part[q] for part in per_shard]) for q in range(len(queries))]


def search_keyword_many(shards, checks, queries, k, where_filter, where_document) -> list:
    checks.read("search_keyword_many", queries, k, where_filter, where_document)
    queries = [str(q) for q in queries]
    k = operator.index(k)
    if not queries:
        return []
    statistics = _statistics(shards, queries)
    parts = _reads.fan_out(shards, "search_keyword_many", list(zip(queries, statistics)), k,
                           where_filter=where_filter, where_document=where_document)
    return [merge([part[q] for part in parts], k) for q in range(len(queries))]


def search_keyword(shards, checks, query, k, where_filter, where_document) -> list:
    checks.read("search_keyword", query, k, where_filter, where_document)
    return search_keyword_many(shards, checks, [query], k, where_filter, where_document)[0]


def _min_max(hits: list) -> list:
    """Each side's scores onto [0, 1], best 1; all 1 when they are equal (as the engine maps them)."""
    if not hits:
        return []
    distances = [float(h.distance) for h in hits]
    lo, hi = min(distances), max(distances)
    span = hi - lo
    if not span > 0:
        return [1.0] * len(hits)
    return [(hi - d) / span for d in distances]


def fuse(vector_hits: list, keyword_hits: list, k: int, fusion: str, weight: float) -> list:
    """The engine's fusion of two rankings: scores summed in the order the sides first name a
    record (vector hits, then keyword hits), ranked by score with that order breaking ties."""
    if fusion == "rrf":
        vector_scores = [1.0 / (RRF_K + r + 1) for r in range(len(vector_hits))]
        keyword_scores = [1.0 / (RRF_K + r + 1) for r in range(len(keyword_hits))]
    else:
        w = 0.5 if weight is None else float(np.float32(weight))  # the engine holds it as a float32
        vector_scores = [s * w for s in _min_max(vector_hits)]
        keyword_scores = [s * (1.0 - w) for s in _min_max(keyword_hits)]
    fused: dict = {}
    for hits, scores in ((vector_hits, vector_scores), (keyword_hits, keyword_scores)):
        for hit, score in zip(hits, scores):
            if hit.id not in fused:
                fused[hit.id] = [hit, 0.0]
            fused[hit.id][1] += score
    ranked = sorted(fused.values(), key=lambda entry: -entry[1])[:k]
    return [SearchResult(hit.id, float(np.float32(-score)), hit.metadata, hit.document) for hit, score in ranked]


def search_hybrid_many(shards, checks, vectors, queries, k, ef_search, where_filter, where_document, fusion,
                       weight) -> list:
    checks.read("search_hybrid_many", vectors, queries, k, ef_search, where_filter, where_document, fusion, weight)
    k = operator.index(k)
    queries = [str(q) for q in queries]
    if not queries:
        return []
    vector_lists = _reads.search_many(shards, checks, vectors, k, ef_search, where_filter, None, True,
                                      where_document)
    keyword_lists = search_keyword_many(shards, checks, queries, k, where_filter, where_document)
    return [fuse(v, w, k, fusion, weight) for v, w in zip(vector_lists, keyword_lists)]


def search_hybrid(shards, checks, vector, query, k, ef_search, where_filter, where_document, fusion, weight) -> list:
    checks.read("search_hybrid", vector, query, k, ef_search, where_filter, where_document, fusion, weight)
    return search_hybrid_many(shards, checks, [np.asarray(vector, dtype=np.float32)], [query], k, ef_search,
                              where_filter, where_document, fusion, weight)[0]
