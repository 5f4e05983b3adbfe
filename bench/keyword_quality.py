"""Hybrid search quality on a judged set from local text: nDCG@10 of keyword-only, vector-only and
hybrid (RRF, and weighted at several weights) on the same database.

The judged set comes from bench/text_corpus.py: a sentence taken out of a passage is the query
and that passage (without the sentence) its one right answer, among other passages of the corpus.
Vectors are quarn.embeddings' built-in "minilm"; they are kept in OUT so that a rerun skips
embedding. With one relevant passage, nDCG@10 is the mean of 1 / log2(1 + rank) over queries
(0 when the answer is not in the top 10).
"""

from __future__ import annotations

import hashlib
import math
import os
import shutil
import statistics
import tempfile
import time

import numpy as np

from bench import text_corpus

K = 10
WEIGHTS = (0.2, 0.35, 0.5, 0.65, 0.8)
EF_SEARCH = 200


def ndcg_one(ranked: list[str], answer: str) -> float:
    for rank, rid in enumerate(ranked[:K], start=1):
        if rid == answer:
            return 1.0 / math.log2(1 + rank)
    return 0.0


def _embedded(out_dir: str, pool: list, queries: list, log):
    import quarn.embeddings

    digest = hashlib.sha256("\x00".join(pool + ["\x01"] + queries).encode()).hexdigest()[:16]
    path = os.path.join(out_dir, f"judged-vectors-{digest}.npz")
    if os.path.exists(path):
        data = np.load(path)
        return data["passages"], data["queries"], 0.0
    fn = quarn.embeddings.resolve("minilm")
    t = time.perf_counter()
    pv = quarn.embeddings.embed(fn, pool)
    qv = quarn.embeddings.embed(fn, queries, query=True)
    seconds = time.perf_counter() - t
    log(f"embedded {len(pool)} passages and {len(queries)} queries in {seconds:.0f} s")
    np.savez(path, passages=pv, queries=qv)
    return pv, qv, seconds


def hybrid_quality(args, log) -> dict:
    import quarn

    out_dir = os.path.abspath(args.out)
    texts = text_corpus.passages(cache=os.path.join(out_dir, "text_corpus.json"))
    pool, queries, answers = text_corpus.judged_set(texts, args.judged_passages, args.judged_queries)
    pv, qv, embed_seconds = _embedded(out_dir, pool, queries, log)

    work = tempfile.mkdtemp(prefix="kwquality-", dir=args.workdir)
    try:
        db = quarn.Database(os.path.join(work, "db"), dim=pv.shape[1], metric="cosine")
        db.add_many([str(i) for i in range(len(pool))], pv, documents=pool)
        methods = {
            "keyword": lambda v, q: db.search_keyword(q, k=K),
            "vector": lambda v, q: db.search(v, k=K, ef_search=EF_SEARCH),
            "hybrid rrf": lambda v, q: db.search_hybrid(v, q, k=K, ef_search=EF_SEARCH),
        }
        for w in WEIGHTS:
            methods[f"hybrid weighted {w}"] = (
                lambda v, q, w=w: db.search_hybrid(v, q, k=K, ef_search=EF_SEARCH, fusion="weighted", weight=w))
        scores = {}
        for name, call in methods.items():
            per_query = [ndcg_one([r.id for r in call(v, q)], str(a)) for v, q, a in zip(qv, queries, answers)]
            scores[name] = {"ndcg@10": statistics.mean(per_query),
                            "found@10": sum(s > 0 for s in per_query) / len(per_query)}
            log(f"{name}: nDCG@10 {scores[name]['ndcg@10']:.4f}")
        db.close()
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return {"passages": len(pool), "queries": len(queries), "embed_seconds": embed_seconds,
            "ef_search": EF_SEARCH, "scores": scores}
