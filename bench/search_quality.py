"""Search quality against hnswlib, faiss, usearch and ChromaDB on data where graph search goes wrong.

    python bench/search_quality.py              # about 15 minutes on 2 cores
    python bench/search_quality.py --quick      # smaller sets and fewer queries
    python bench/search_quality.py --sets separated,filtered --engines quarn,hnswlib

Sets (every one large enough that quarn answers through its graph, not by a scan):
- separated: Gaussian clusters (sigma 1) whose centres are uniform in [-10, 10]^128, queries
  drawn the same way; a graph whose lists keep only the nearest candidates splits into islands.
- overlapping: the same with centres in [-3, 3]^128.
- chunks: near-duplicate chunks of documents in document order (bench.datasets.near_duplicate_chunks),
  queries new chunks of existing documents; groups a diversity rule can cut off from the graph.
- minilm: all-MiniLM-L6-v2 embeddings of standard-library sentences (cosine), held-out queries.
- filtered: the overlapping set with metadata {"c": cluster, "b": i % 10, "g": i % 1000};
  filters at 0.1%, 1%, 10% and 50% selectivity, correlated with the query's cluster (its own
  and the nearest clusters), anti-correlated (the farthest clusters) and uncorrelated.

Reported per engine: build seconds, recall@10 and queries per second (single queries, one at a
time; the engines take turns, three rounds, median) at each beam, and for filters the mean
number of hits returned; for unfiltered sets also the queries that found none of their 10 true
neighbours, and for quarn the share of vectors reachable from the entry point on layer 0. Every
engine is built with M 16 and ef_construction 200 and measured
in the same run; compare the ratios, not the absolute figures. The engines are those of
bench/engines.py and bench/peers.py; one that is not installed is left out, and the filtered set
runs the engines that filter (usearch does not). Writes OUT/search_quality.md and .json.
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

from bench.datasets import (K, exact_knn, gaussian_clusters, minilm, near_duplicate_chunks,  # noqa: E402
                            recall, zero_recall)
from bench.peers import ENGINES, make  # noqa: E402

THREADS = 2


def build_all(names, dim, metric, base, metas, work):
    engines = {}
    for name in names:
        eng = make(name, dim, metric, THREADS, os.path.join(work, name))
        if eng is None:
            continue
        t0 = time.perf_counter()
        eng.build(base, metas)
        engines[name] = (eng, time.perf_counter() - t0)
    return engines


def timed_queries(fn, queries):
    raw = []
    start = time.perf_counter()
    for i, q in enumerate(queries):
        raw.append(fn(i, q))
    return raw, len(queries) / (time.perf_counter() - start)


def interleaved(engines, fn_of, queries, repeats):
    """Runs every engine's single queries in turn, `repeats` rounds; (ids found, median q/s) per engine.

    fn_of(name, engine) gives the timed call (i, query) -> the library's raw result."""
    qps = {name: [] for name in engines}
    raw = {}
    mine = {name: eng.prepare_queries(queries) for name, (eng, _) in engines.items()}
    # One untimed pass per engine first, so that the engine measured first does not pay for what
    # ran just before (threads of the ground truth's matrix product still spinning, cold caches).
    for name, (eng, _) in engines.items():
        timed_queries(fn_of(name, eng), mine[name])
    for _ in range(repeats):
        for name, (eng, _) in engines.items():
            raw[name], rate = timed_queries(fn_of(name, eng), mine[name])
            qps[name].append(rate)
    return {name: ([eng.ids_one(r) for r in raw[name]], float(np.median(qps[name])))
            for name, (eng, _) in engines.items()}


# ------------------------------------------------------------------ runs

def run_unfiltered(label, base, queries, metric, names, efs, repeats, results):
    truth = exact_knn(base, queries, metric)
    work = tempfile.mkdtemp(prefix="quarn-sq-")
    try:
        # ChromaDB reloads its index for every beam width: it joins the filtered set only, at one beam.
        engines = build_all([n for n in names if n != "chromadb"], base.shape[1], metric, base, None, work)
        rows = {name: [] for name in engines}
        for ef in efs:
            for eng, _ in engines.values():
                eng.set_ef(ef)
            measured = interleaved(engines, lambda name, eng: (lambda i, q: eng.search_one(q, K)), queries, repeats)
            for name, (found, qps) in measured.items():
                rows[name].append({"ef": ef, "recall": recall(found, truth), "qps": qps,
                                   "zero_recall": zero_recall(found, truth)})
        for name, (eng, build) in engines.items():
            entry = {"set": label, "engine": name, "build_s": build, "rows": rows[name]}
            stats = eng.diagnostics() if name == "quarn" else None
            if stats and "reachable_layer0" in stats:
                entry["reachable_layer0"] = stats["reachable_layer0"] / max(stats["num_vectors"], 1)
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


def filter_metadata(which):
    """The metadata filter_cases' wheres refer to: cluster, row % 10, row % 1000."""
    return [{"c": int(c), "b": i % 10, "g": i % 1000} for i, c in enumerate(which)]


def run_filtered(base, queries, which, qwhich, centres, names, ef, repeats, results):
    n = len(base)
    metas = filter_metadata(which)
    cases = filter_cases(which, qwhich, centres, n)
    truths = {name: exact_knn(base, queries, "l2", mask=np.stack(masks)) for name, _, masks in cases}
    names = [n for n in names if ENGINES[n].supports_filter and not ENGINES[n].quantized_of]
    work = tempfile.mkdtemp(prefix="quarn-sq-")
    try:
        engines = build_all(names, base.shape[1], "l2", base, metas, work)
        for eng, _ in engines.values():
            eng.set_ef(ef)
        plain = interleaved(engines, lambda name, eng: (lambda i, q: eng.search_one(q, K)), queries, repeats)
        rows = {name: [] for name in engines}
        for case, wheres, masks in cases:
            flts = {name: [eng.make_filter({"where": w, "mask": m}) for w, m in zip(wheres, masks)]
                    for name, (eng, _) in engines.items()}

            def fn_of(name, eng):
                return lambda i, q: eng.search_one_filtered(q, K, flts[name][i])

            truth = truths[case]
            wanted = float(np.mean((truth >= 0).sum(1)))
            for name, (found, qps) in interleaved(engines, fn_of, queries, repeats).items():
                rows[name].append({"filter": case, "recall": recall(found, truth), "qps": qps,
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
    ap.add_argument("--engines", default="quarn,hnswlib,faiss,usearch,chromadb")
    ap.add_argument("--out", default=os.path.join(HERE, "out"))
    ap.add_argument("--size", type=int, default=None, help="vectors per synthetic set (a quick look)")
    args = ap.parse_args(argv)
    sets = args.sets.split(",")
    engines = args.engines.split(",")
    n, nq = (80_000, 100) if args.quick else (80_000, 200)
    if args.size:
        n = args.size
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
        base, queries = near_duplicate_chunks(100_000, 1000 if not args.quick else 200, 128, seed=5)
        run_unfiltered("chunks", base, queries, "l2", engines, efs, repeats, results)
    if "filtered" in sets:
        base, queries, which, qwhich, centres = gaussian_clusters(n, nq, 128, 100, 3.0, seed=13)
        run_filtered(base, queries, which, qwhich, centres, engines, 200, repeats, results)
    write_report(results, args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
