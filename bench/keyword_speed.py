"""Keyword search against bm25s and tantivy on real text: agreement, queries/s, documents/s.

    python bench/keyword_speed.py                 # the corpus of bench/text_corpus.py, 3 repeats
    python bench/keyword_speed.py --repeats 5 --queries 1000
    python bench/keyword_speed.py --hybrid        # also the hybrid quality of bench/keyword_quality.py

Needs quarn, bm25s and tantivy importable (bench/run.sh installs the peers beside quarn). The
whole run is pinned to one CPU, so every engine works on one thread; the engines take turns in
each repeat and each figure is the median of the repeats (spread = max - min), timed in CPU
seconds of the process. Compare the ratios, not the absolute numbers: the machine is shared. Writes OUT/keyword.md and OUT/keyword.json.

Figures:
- agreement: share of the queries whose top 10 from quarn equals bm25s's (Lucene BM25, k1 1.2,
  b 0.75, fed quarn's own terms): the same scores rank by rank within 1e-5 relative, and the same
  rows except among those tied (within 1e-5) with the tenth score;
- queries/s: one query per call for quarn and tantivy; bm25s both one per call and the whole
  batch in one call (its best use), on its NumPy and, when installed, its Numba backend;
- documents/s: quarn's add_many with the passages as documents and 1-d vectors, the same
  without documents (so that the cost of the documents and the keyword index shows as the
  difference), and once with 384-d vectors (the flow of a user, graph built too); tantivy's
  indexing with one writer thread and a commit; bm25s's index from ready terms;
- found right after add: a record added to the built database is the first hit of its own word.
"""

from __future__ import annotations

import argparse
import json
import os
import shutil
import statistics
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
if ROOT not in sys.path:
    sys.path.insert(0, ROOT)

for var in ("OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS", "NUMBA_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ[var] = "1"

import numpy as np  # noqa: E402

from bench import text_corpus  # noqa: E402
from bench.keyword_peers import K, Bm25sKeyword, QuarnKeyword, TantivyKeyword, version  # noqa: E402

REL_TIE = 1e-5


def pin_to_one_cpu() -> int | None:
    try:
        cpu = min(os.sched_getaffinity(0))
        os.sched_setaffinity(0, {cpu})
        return cpu
    except (AttributeError, OSError):
        return None


def close(a: float, b: float) -> bool:
    return abs(a - b) <= REL_TIE * max(abs(a), abs(b))


def same_top(mine: list, theirs: list) -> bool:
    """Two top-k lists of (row, score), best first, agree: scores equal rank by rank within
    REL_TIE, and rows equal as sets except those tied with the last score (a tie at the cut may
    keep either)."""
    if len(mine) != len(theirs):
        return False
    if not all(close(a[1], b[1]) for a, b in zip(mine, theirs)):
        return False
    if not mine:
        return True
    last = mine[-1][1]
    above_mine = {r for r, s in mine if not close(s, last)}
    above_theirs = {r for r, s in theirs if not close(s, last)}
    return above_mine == above_theirs


def timed(fn) -> float:
    """CPU seconds of the whole process (every thread of every engine runs in it): on a shared
    machine, a count that the other work does not inflate."""
    t = time.process_time()
    fn()
    return time.process_time() - t


def median_spread(values):
    return {"median": statistics.median(values), "spread": max(values) - min(values), "runs": values}


def random_vectors(dim: int):
    def make(n):
        rng = np.random.default_rng(dim)
        v = rng.standard_normal((n, dim)).astype(np.float32)
        return v / np.linalg.norm(v, axis=1, keepdims=True)
    return make


def run(args) -> dict:
    cpu = pin_to_one_cpu()
    import _quarn

    out_dir = os.path.abspath(args.out)
    os.makedirs(out_dir, exist_ok=True)
    t0 = time.perf_counter()
    texts = text_corpus.passages(cache=os.path.join(out_dir, "text_corpus.json"))
    if args.passages:
        texts = texts[: args.passages]
    # A passage without a term is no document to quarn (as to Lucene: N counts the documents
    # holding a term) but counts in bm25s's N and average length: leave such passages out so that
    # both score one collection.
    texts = [t for t in texts if _quarn.tokenize(t)]
    tokens = [_quarn.tokenize(t) for t in texts]
    queries = text_corpus.keyword_queries(texts, _quarn.tokenize, count=args.queries)
    query_tokens = [_quarn.tokenize(q) for q in queries]
    log(f"{len(texts)} passages, {sum(map(len, tokens))} terms, {len(queries)} queries "
        f"({time.perf_counter() - t0:.0f} s to gather)")

    work = tempfile.mkdtemp(prefix="kwbench-", dir=args.workdir)
    backends = ["numpy"]
    try:
        import numba  # noqa: F401
        backends.append("numba")
    except ImportError:
        pass
    engines = {
        "quarn": QuarnKeyword(work, dim=1),
        "quarn, no documents": QuarnKeyword(work, dim=1, with_documents=False),
        "tantivy": TantivyKeyword(work),
    }
    engines.update({f"bm25s ({b})": Bm25sKeyword(b) for b in backends})
    if args.graph_build:
        # The graph costs the same with or without documents and dominates: one build is enough.
        engines["quarn, 384-d vectors"] = QuarnKeyword(work, dim=384, vectors=random_vectors(384))
    searchers = ["quarn", "tantivy"] + [f"bm25s ({b})" for b in backends]

    # Untimed: each engine once on a small part, so that what a library compiles or loads at its
    # first use (bm25s's Numba functions) is not counted in the first repeat.
    for name, engine in engines.items():
        if hasattr(engine, "prepare"):
            engine.prepare(500)
        engine.build(texts[:500], tokens[:500])
        if name in searchers:
            for q, qt in zip(queries[:20], query_tokens[:20]):
                engine.search(q, qt)
            if hasattr(engine, "search_batch"):
                engine.search_batch(queries[:20], query_tokens[:20])
        engine.close()

    build = {name: [] for name in engines}
    single = {name: [] for name in searchers}
    batch = {name: [] for name in searchers if name.startswith("bm25s")}
    results = {}
    try:
        for rep in range(args.repeats):
            for name, engine in engines.items():
                if name == "quarn, 384-d vectors" and rep > 0:
                    continue
                if hasattr(engine, "prepare"):
                    engine.prepare(len(texts))
                build[name].append(len(texts) / timed(lambda: engine.build(texts, tokens)))
                if name in searchers:
                    # One untimed pass warms caches and compiles what a library compiles lazily.
                    for q, qt in zip(queries[:50], query_tokens[:50]):
                        engine.search(q, qt)
                    raws = []
                    single[name].append(len(queries) / timed(
                        lambda: raws.extend(engine.search(q, qt) for q, qt in zip(queries, query_tokens))))
                    results[name] = [engine.hits(r) for r in raws]
                    if name in batch:
                        raws = []
                        batch[name].append(len(queries) / timed(
                            lambda: raws.extend(engine.search_batch(queries, query_tokens))))
                        if [engine.hits(r) for r in raws] != results[name]:
                            raise RuntimeError(f"{name}: the batch call ranks differently from single calls")
                if name != "quarn":
                    engine.close()
                log(f"repeat {rep + 1}/{args.repeats}: {name} built at {build[name][-1]:,.0f} documents/s"
                    + (f", {single[name][-1]:,.0f} queries/s" if name in single else ""))
            if rep + 1 < args.repeats:
                engines["quarn"].close()

        found = found_after_add(engines["quarn"].db)
        engines["quarn"].close()
    finally:
        shutil.rmtree(work, ignore_errors=True)

    reference = f"bm25s ({backends[0]})"
    agree = [same_top(a, b) for a, b in zip(results["quarn"], results[reference])]
    disagreements = [
        {"query": queries[i], "quarn": results["quarn"][i], "bm25s": results[reference][i]}
        for i, ok in enumerate(agree) if not ok
    ][:5]
    tantivy_overlap = statistics.mean(
        len({r for r, _ in a} & {r for r, _ in b}) / max(1, min(K, len(a), len(b)))
        for a, b in zip(results["quarn"], results["tantivy"]) if a or b)
    return {
        "passages": len(texts),
        "terms": sum(map(len, tokens)),
        "distinct_terms": len({t for ts in tokens for t in ts}),
        "queries": len(queries),
        "query_terms_mean": statistics.mean(map(len, query_tokens)),
        "repeats": args.repeats,
        "cpu": cpu,
        "versions": {"quarn": version("quarn"), "bm25s": version("bm25s"), "tantivy": version("tantivy"),
                     "numba": version("numba") if "numba" in backends else None, "numpy": np.__version__,
                     "python": sys.version.split()[0]},
        "agreement": {"reference": reference, "same_top10": sum(agree), "of": len(agree),
                      "examples": disagreements},
        "tantivy_top10_overlap": tantivy_overlap,
        "documents_per_s": {n: median_spread(v) for n, v in build.items()},
        "queries_per_s": {n: median_spread(v) for n, v in single.items()},
        "batch_queries_per_s": {n: median_spread(v) for n, v in batch.items()},
        "found_after_add": found,
    }


def found_after_add(db) -> bool:
    """A record added to a built database is the first hit of a word only it holds, with no
    rebuild or refresh in between."""
    word = "zyxwvutsrqponmlkji"
    db.add("fresh", np.zeros(db.dim, dtype=np.float32), document=f"a passage about {word} and nothing else")
    hits = db.search_keyword(word, k=3)
    return [h.id for h in hits] == ["fresh"]


def log(msg: str) -> None:
    print(f"[{time.strftime('%H:%M:%S')}] {msg}", flush=True)


def main(argv=None) -> int:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--repeats", type=int, default=3)
    p.add_argument("--queries", type=int, default=1000)
    p.add_argument("--passages", type=int, default=0, help="use only the first N passages (0: all)")
    p.add_argument("--out", default=os.path.join(HERE, "out"))
    p.add_argument("--workdir", default=None, help="where the indexes are built (default: the temp dir)")
    p.add_argument("--no-graph-build", dest="graph_build", action="store_false",
                   help="leave out the add_many with 384-d vectors (graph built too, slow)")
    p.add_argument("--hybrid", action="store_true", help="also measure hybrid quality (embeds passages)")
    p.add_argument("--judged-passages", type=int, default=20000)
    p.add_argument("--judged-queries", type=int, default=500)
    args = p.parse_args(argv)

    from bench.keyword_report import write_report

    results = {"speed": run(args)}
    if args.hybrid:
        from bench.keyword_quality import hybrid_quality

        results["hybrid"] = hybrid_quality(args, log)
    with open(os.path.join(args.out, "keyword.json"), "w") as f:
        json.dump(results, f, indent=1)
    path = write_report(args.out, results)
    log(f"report in {path}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
