"""Search quality against hnswlib, faiss and ChromaDB on data where graph search goes wrong.

    python bench/search_quality.py              # about 15 minutes on 2 cores
    python bench/search_quality.py --quick      # smaller sets and fewer queries
    python bench/search_quality.py --sets separated,filtered --engines quarn,hnswlib

Sets (every one large enough that quarn answers through its graph, not by a scan):
- separated: Gaussian clusters (sigma 1) whose centres are uniform in [-10, 10]^128, queries
  drawn the same way; a graph whose lists keep only the nearest candidates splits into islands.
- overlapping: the same with centres in [-3, 3]^128.
- minilm: all-MiniLM-L6-v2 embeddings of standard-library sentences (cosine), held-out queries.
- chunks: near-duplicate chunks of documents in document order (bench.datasets.near_duplicate_chunks),
  queries new chunks of existing documents; groups a diversity rule can cut off from the graph.
- filtered: the overlapping set with metadata {"c": cluster, "b": i % 10, "g": i % 1000};
  filters at 0.1%, 1%, 10% and 50% selectivity, correlated with the query's cluster (its own
  and the nearest clusters), anti-correlated (the farthest clusters) and uncorrelated.

Reported per engine: build seconds, recall@10 and queries per second (single queries, one at a
time; the engines take turns, three rounds, median) at each beam, and for filters the mean
number of hits returned; for unfiltered sets also the queries that found none of their 10 true
neighbours, and for quarn the share of vectors reachable from the entry point on layer 0. Every engine is built with M 16 and ef_construction 200 and measured
in the same run; compare the ratios, not the absolute figures. Writes OUT/search_quality.md
and .json.
"""

from __future__ import annotations

import argparse
import json
import os
import shutil
import sys
import tempfile
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
if ROOT not in sys.path:
    sys.path.insert(0, ROOT)

K = 10
M = 16
EF_CONSTRUCTION = 200


# ------------------------------------------------------------------ data

def gaussian_clusters(n, nq, dim, clusters, spread, seed):
    rng = np.random.default_rng(seed)
    centres = rng.uniform(-spread, spread, size=(clusters, dim)).astype(np.float32)
    which = rng.integers(0, clusters, size=n + nq)
    vecs = centres[which] + rng.normal(size=(n + nq, dim)).astype(np.float32)
    return vecs[:n], vecs[n:], which[:n], which[n:], centres


def minilm(n, nq, cache):
    from bench.embeddings import available, sentence_embeddings

    if not available():
        return None
    path = os.path.join(cache, f"minilm-{n + nq}.npy")
    if os.path.exists(path):
        vecs = np.load(path)
    else:
        vecs, _ = sentence_embeddings(n + nq, progress=print)
        vecs = np.asarray(vecs, dtype=np.float32)
        np.save(path, vecs)
    vecs = vecs[np.random.default_rng(3).permutation(len(vecs))]
    return vecs[:n], vecs[n:n + nq]


def exact_knn(base, queries, metric, mask=None, k=K):
    if metric == "cosine":
        b = base / np.maximum(np.linalg.norm(base, axis=1, keepdims=True), 1e-30)
        q = queries / np.maximum(np.linalg.norm(queries, axis=1, keepdims=True), 1e-30)
        d = -(q @ b.T)
    else:
        d = (queries ** 2).sum(1)[:, None] - 2 * queries @ base.T + (base ** 2).sum(1)[None, :]
    if mask is not None:
        d = np.where(mask, d, np.inf)
    kk = min(k, d.shape[1])
    part = np.argpartition(d, kk - 1, axis=1)[:, :kk]
    order = np.take_along_axis(d, part, 1).argsort(1, kind="stable")
    out = np.take_along_axis(part, order, 1)
    finite = np.take_along_axis(d, out, 1) < np.inf
    return [list(row[f]) for row, f in zip(out, finite)]


def zero_recall_count(found, truth):
    """Queries that found none of their true neighbours."""
    return sum(1 for f, t in zip(found, truth) if len(t) and not set(f) & set(t))


def recall_of(found, truth):
    hits = sum(len(set(f) & set(t)) for f, t in zip(found, truth))
    total = sum(len(t) for t in truth)
    return hits / total if total else 1.0


# ------------------------------------------------------------------ engines

class QuarnEngine:
    name = "quarn"

    def __init__(self, dim, metric, workdir):
        import quarn

        self.db = quarn.Database(os.path.join(workdir, "quarn"), dim=dim, metric=metric, m=M,
                                 ef_construction=EF_CONSTRUCTION)

    def build(self, vecs, metas=None):
        ids = [str(i) for i in range(len(vecs))]
        self.db.add_many(ids, vecs, metas)

    def search(self, q, ef, where=None):
        hits = self.db.search(q, k=K, ef_search=ef, where_filter=where)
        return [int(h.id) for h in hits]

    def reachable_share(self):
        st = self.db.stats()
        return st.get("reachable_layer0", st["num_vectors"]) / max(st["num_vectors"], 1)


class HnswlibEngine:
    name = "hnswlib"

    def __init__(self, dim, metric, workdir):
        import hnswlib

        self.idx = hnswlib.Index(space="l2" if metric == "l2" else "cosine", dim=dim)
        self.metric = metric

    def build(self, vecs, metas=None):
        self.idx.init_index(max_elements=len(vecs), ef_construction=EF_CONSTRUCTION, M=M, random_seed=100)
        self.idx.add_items(vecs, np.arange(len(vecs)), num_threads=2)

    def search(self, q, ef, mask=None):
        self.idx.set_ef(ef)
        if mask is None:
            return list(self.idx.knn_query(q, k=K)[0][0])
        matches = int(mask.sum())
        if matches == 0:
            return []
        labels, _ = self.idx.knn_query(q, k=min(K, matches), filter=lambda label: bool(mask[label]))
        return list(labels[0])


class FaissEngine:
    name = "faiss"

    def __init__(self, dim, metric, workdir):
        import faiss

        self.faiss = faiss
        self.metric = metric
        faiss.omp_set_num_threads(2)
        kind = faiss.METRIC_INNER_PRODUCT if metric == "cosine" else faiss.METRIC_L2
        self.idx = faiss.IndexHNSWFlat(dim, M, kind)
        self.idx.hnsw.efConstruction = EF_CONSTRUCTION

    def _rows(self, x):
        x = np.ascontiguousarray(x, dtype=np.float32)
        if self.metric == "cosine":
            x = x / np.maximum(np.linalg.norm(x, axis=-1, keepdims=True), 1e-30)
        return x

    def build(self, vecs, metas=None):
        self.idx.add(self._rows(vecs))

    def search(self, q, ef, mask=None):
        p = self.faiss.SearchParametersHNSW()
        p.efSearch = ef
        if mask is not None:
            bits = np.packbits(mask.astype(np.uint8), bitorder="little")
            sel = self.faiss.IDSelectorBitmap(len(mask), self.faiss.swig_ptr(bits))
            p.sel = sel
        labels = self.idx.search(self._rows(q[None, :]), K, params=p)[1][0]
        return [int(x) for x in labels if x >= 0]


class ChromaEngine:
    name = "chromadb"

    def __init__(self, dim, metric, workdir):
        os.environ.setdefault("ANONYMIZED_TELEMETRY", "False")
        import chromadb
        from chromadb.config import Settings

        self.client = chromadb.PersistentClient(path=os.path.join(workdir, "chroma"),
                                                settings=Settings(anonymized_telemetry=False))
        self.metric = metric
        self.ef = None

    def build(self, vecs, metas=None):
        self.col = self.client.create_collection(
            "bench", embedding_function=None,
            configuration={"hnsw": {"space": "l2" if self.metric == "l2" else "cosine",
                                    "ef_construction": EF_CONSTRUCTION, "max_neighbors": M, "ef_search": 200}})
        step = self.client.get_max_batch_size()
        for s in range(0, len(vecs), step):
            e = min(len(vecs), s + step)
            self.col.add(ids=[str(i) for i in range(s, e)], embeddings=vecs[s:e],
                         metadatas=None if metas is None else metas[s:e])

    def search(self, q, ef, where=None):
        if where is not None and len(where) > 1:  # ChromaDB takes one condition per dict
            where = {"$and": [{key: value} for key, value in where.items()]}
        r = self.col.query(query_embeddings=q[None, :], n_results=K, where=where, include=[])
        return [int(x) for x in r["ids"][0]]


ENGINES = {"quarn": QuarnEngine, "hnswlib": HnswlibEngine, "faiss": FaissEngine, "chromadb": ChromaEngine}


def make_engine(name, dim, metric, workdir):
    try:
        return ENGINES[name](dim, metric, workdir)
    except ImportError as e:
        print(f"  {name}: not installed ({e})")
        return None


def timed_queries(fn, queries):
    found = []
    start = time.perf_counter()
    for i, q in enumerate(queries):
        found.append(fn(i, q))
    return found, len(queries) / (time.perf_counter() - start)


# ------------------------------------------------------------------ runs

def build_all(names, dim, metric, base, metas, work):
    engines = {}
    for name in names:
        eng = make_engine(name, dim, metric, os.path.join(work, name))
        if eng is None:
            continue
        t0 = time.perf_counter()
        eng.build(base, metas if name in ("quarn", "chromadb") else None)
        engines[name] = (eng, time.perf_counter() - t0)
    return engines


def interleaved(engines, fn_of, queries, repeats):
    """Runs every engine's queries in turn, `repeats` rounds; (found, median q/s) per engine."""
    qps = {name: [] for name in engines}
    found = {}
    # One untimed pass per engine first, so that the engine measured first does not pay for what
    # ran just before (threads of the ground truth's matrix product still spinning, cold caches).
    for name, (eng, _) in engines.items():
        timed_queries(fn_of(name, eng), queries)
    for _ in range(repeats):
        for name, (eng, _) in engines.items():
            found[name], rate = timed_queries(fn_of(name, eng), queries)
            qps[name].append(rate)
    return {name: (found[name], float(np.median(qps[name]))) for name in engines}


def run_unfiltered(label, base, queries, metric, names, efs, repeats, results):
    truth = exact_knn(base, queries, metric)
    work = tempfile.mkdtemp(prefix="quarn-sq-")
    try:
        engines = build_all([n for n in names if n != "chromadb"], base.shape[1], metric, base, None, work)
        rows = {name: [] for name in engines}
        for ef in efs:
            measured = interleaved(engines, lambda name, eng: (lambda i, q: eng.search(q, ef)), queries, repeats)
            for name, (found, qps) in measured.items():
                rows[name].append({"ef": ef, "recall": recall_of(found, truth), "qps": qps,
                                   "zero_recall": zero_recall_count(found, truth)})
        for name, (eng, build) in engines.items():
            entry = {"set": label, "engine": name, "build_s": build, "rows": rows[name]}
            if hasattr(eng, "reachable_share"):
                entry["reachable_layer0"] = eng.reachable_share()
            results.append(entry)
            print(f"  {label:12s} {name:9s} build {build:6.1f}s  " +
                  "  ".join(f"ef{r['ef']}: {r['recall']:.3f}@{r['qps']:.0f}/s" for r in rows[name]), flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def filter_cases(which, qwhich, centres, n):
    """(name, where per query, mask per query) for every selectivity and correlation."""
    order = np.argsort(((centres[:, None, :] - centres[None, :, :]) ** 2).sum(-1), axis=1)
    clusters = len(centres)
    b = np.arange(n) % 10
    g = np.arange(n) % 1000
    cases = []
    for corr in ("correlated", "anti", "uncorrelated"):
        for sel in ("0.1%", "1%", "10%", "50%"):
            wheres, masks = [], []
            for qc in qwhich:
                if corr == "uncorrelated":
                    width = {"0.1%": 1, "1%": 10, "10%": 100, "50%": 500}[sel]
                    where = {"g": {"$lt": width}} if width > 1 else {"g": 0}
                    mask = g < width
                else:
                    near = order[qc] if corr == "correlated" else order[qc][::-1]
                    count = {"0.1%": 1, "1%": 1, "10%": clusters // 10, "50%": clusters // 2}[sel]
                    chosen = [int(c) for c in near[:count]]
                    where = {"c": chosen[0]} if count == 1 else {"c": {"$in": chosen}}
                    mask = np.isin(which, chosen)
                    if sel == "0.1%":
                        where = {"c": chosen[0], "b": 0}
                        mask = mask & (b == 0)
                wheres.append(where)
                masks.append(mask)
            cases.append((f"{corr} {sel}", wheres, masks))
    return cases


def run_filtered(base, queries, which, qwhich, centres, names, ef, repeats, results):
    n = len(base)
    metas = [{"c": int(which[i]), "b": i % 10, "g": i % 1000} for i in range(n)]
    cases = filter_cases(which, qwhich, centres, n)
    truths = {name: exact_knn(base, queries, "l2", mask=np.stack(masks)) for name, _, masks in cases}
    work = tempfile.mkdtemp(prefix="quarn-sq-")
    try:
        engines = build_all(names, base.shape[1], "l2", base, metas, work)
        plain = interleaved(engines, lambda name, eng: (lambda i, q: eng.search(q, ef)), queries, repeats)
        rows = {name: [] for name in engines}
        for case, wheres, masks in cases:
            def fn_of(name, eng):
                if name in ("quarn", "chromadb"):
                    return lambda i, q: eng.search(q, ef, wheres[i])
                return lambda i, q: eng.search(q, ef, masks[i])

            truth = truths[case]
            wanted = float(np.mean([len(t) for t in truth]))
            for name, (found, qps) in interleaved(engines, fn_of, queries, repeats).items():
                rows[name].append({"filter": case, "recall": recall_of(found, truth), "qps": qps,
                                   "hits": float(np.mean([len(f) for f in found])), "wanted": wanted})
        for name, (_, build) in engines.items():
            results.append({"set": "filtered", "engine": name, "build_s": build, "ef": ef,
                            "unfiltered_qps": plain[name][1], "rows": rows[name]})
            print(f"  filtered {name:9s} build {build:6.1f}s unfiltered {plain[name][1]:.0f}/s", flush=True)
            for r in rows[name]:
                print(f"    {r['filter']:22s} recall {r['recall']:.3f} hits {r['hits']:.2f}/{r['wanted']:.2f} "
                      f"{r['qps']:.0f}/s", flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def write_report(results, out):
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "search_quality.json"), "w") as f:
        json.dump(results, f, indent=1)
    lines = ["# Search quality", ""]
    for r in results:
        if r["set"] == "filtered":
            continue
        reach = (f"{r['reachable_layer0']:.2%} of vectors reachable on layer 0; "
                 if "reachable_layer0" in r else "")
        lines.append(f"- {r['set']} / {r['engine']}: build {r['build_s']:.1f} s; {reach}" +
                     ", ".join(f"ef {x['ef']}: recall {x['recall']:.3f} at {x['qps']:.0f} q/s"
                               f" ({x.get('zero_recall', 0)} queries at zero recall)" for x in r["rows"]))
    lines.append("")
    for r in results:
        if r["set"] != "filtered":
            continue
        lines += [f"## Filtered, {r['engine']} (ef {r['ef']}, unfiltered {r['unfiltered_qps']:.0f} q/s)", "",
                  "| filter | recall@10 | hits / wanted | q/s |", "|---|---|---|---|"]
        lines += [f"| {x['filter']} | {x['recall']:.3f} | {x['hits']:.2f} / {x['wanted']:.2f} | {x['qps']:.0f} |"
                  for x in r["rows"]]
        lines.append("")
    with open(os.path.join(out, "search_quality.md"), "w") as f:
        f.write("\n".join(lines) + "\n")


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--quick", action="store_true")
    ap.add_argument("--sets", default="separated,overlapping,minilm,chunks,filtered")
    ap.add_argument("--engines", default="quarn,hnswlib,faiss,chromadb")
    ap.add_argument("--out", default=os.path.join(HERE, "out"))
    args = ap.parse_args(argv)
    sets = args.sets.split(",")
    engines = args.engines.split(",")
    n, nq = (80_000, 100) if args.quick else (80_000, 200)
    efs = [10, 50, 200] if args.quick else [10, 20, 50, 100, 200, 400, 800]
    repeats = 1 if args.quick else 3
    results = []
    if "separated" in sets:
        base, queries, *_ = gaussian_clusters(n, nq, 128, 100, 10.0, seed=11)
        run_unfiltered("separated", base, queries, "l2", engines, efs, repeats, results)
    if "overlapping" in sets:
        base, queries, *_ = gaussian_clusters(n, nq, 128, 100, 3.0, seed=12)
        run_unfiltered("overlapping", base, queries, "l2", engines, efs, repeats, results)
    if "minilm" in sets:
        cache = os.path.join(args.out, "cache")
        os.makedirs(cache, exist_ok=True)
        data = minilm(30_000, 500 if not args.quick else 200, cache)
        if data is None:
            print("  minilm: embedding model not installed, skipped")
        else:
            run_unfiltered("minilm", data[0], data[1], "cosine", engines, efs, repeats, results)
    if "chunks" in sets:
        from bench.datasets import near_duplicate_chunks

        base, queries = near_duplicate_chunks(100_000, 1000 if not args.quick else 200, 128, seed=5)
        run_unfiltered("chunks", base, queries, "l2", engines, efs, repeats, results)
    if "filtered" in sets:
        base, queries, which, qwhich, centres = gaussian_clusters(n, nq, 128, 100, 3.0, seed=13)
        run_filtered(base, queries, which, qwhich, centres, engines, 200, repeats, results)
    write_report(results, args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
