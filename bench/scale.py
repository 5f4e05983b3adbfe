"""Scale curves: build time, retained memory, QPS at fixed recall, reopen, as the collection grows.

    python bench/scale.py --sizes 100000 300000 --dims 128        # what two shared cores allow
    python bench/scale.py --sizes 100000 300000 1000000 --dims 128 384

Sets: ``clustered`` 128-d (bench/datasets.clustered, l2) and ``mixture`` 384-d, an anisotropic
mixture shaped like sentence embeddings (clusters whose spread falls off along a few hundred
directions, unit length, cosine). Ground truth by the batched exact scan (bench/datasets.exact_knn).
Every engine is measured in a fresh process per size (memory figures are its own), in the same run:
quarn (vectors in memory), quarn-disk (vectors_in_memory=False, re-rank at the default depth) and
the peers of bench/peers.py that are installed (hnswlib, faiss, usearch). M 16, ef_construction
200 everywhere. Per size: build seconds, retained RSS (and anonymous RSS), QPS at recall@10 0.90
and 0.95 single-query and batched (interpolated on the beam sweep), reopen seconds and the first
search after it. Across sizes: the fitted growth exponent b of value ~ N^b per figure, and quarn's
ratio to the best peer at each size. Writes OUT/scale.md and OUT/scale.json.
"""

from __future__ import annotations

import argparse
import gc
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
if ROOT not in sys.path:
    sys.path.insert(0, ROOT)

from bench.datasets import K, clustered, exact_knn, recall  # noqa: E402
from bench.engines import Quarn  # noqa: E402
from bench.peers import ENGINES  # noqa: E402
from bench.procmem import rss_bytes  # noqa: E402
from bench.speed_report import PEERS, TARGETS, qps_at  # noqa: E402

THREADS = 2
EFS = [10, 16, 24, 32, 48, 64, 96, 128, 192, 256, 384, 512, 768]
NQ = 500


class QuarnDisk(Quarn):
    """quarn with vectors_in_memory=False: graph and codes in memory, full rows on disk."""

    name = "quarn-disk"

    def _open_new(self, sub):
        import quarn

        path = os.path.join(self.workdir, sub)
        db = quarn.Database(path, dim=self.dim, metric="euclidean" if self.metric == "l2" else "cosine",
                            m=16, ef_construction=200, vectors_in_memory=False)
        return db, path


def engine_class(name):
    return QuarnDisk if name == "quarn-disk" else ENGINES[name]


def mixture(n: int, dim: int, seed: int, clusters: int = 100) -> np.ndarray:
    """Unit vectors from clusters with anisotropic spread: each cluster draws noise along its own
    random basis with variances falling off as 1/(1+i)^1.2, so a few directions dominate, as in
    sentence embeddings."""
    rng = np.random.default_rng(seed)
    centres = rng.normal(size=(clusters, dim)).astype(np.float32)
    centres /= np.linalg.norm(centres, axis=1, keepdims=True)
    scale = (1.0 / (1.0 + np.arange(dim)) ** 0.6).astype(np.float32) * 0.9
    bases = [np.linalg.qr(rng.normal(size=(dim, dim)))[0].astype(np.float32) * scale[:, None] for _ in range(clusters)]
    which = rng.integers(0, clusters, size=n)
    out = np.empty((n, dim), np.float32)
    for c in range(clusters):
        rows = np.flatnonzero(which == c)
        out[rows] = centres[c] + rng.normal(size=(len(rows), dim)).astype(np.float32) @ bases[c]
    out /= np.linalg.norm(out, axis=1, keepdims=True)
    return out


def make_set(kind: str, n: int, cache: str) -> str:
    os.makedirs(cache, exist_ok=True)
    path = os.path.join(cache, f"scale-{kind}-{n}.npz")
    if not os.path.exists(path):
        if kind == "clustered":
            vecs, metric = clustered(n + NQ, 128, seed=11), "l2"
        else:
            vecs, metric = mixture(n + NQ, 384, seed=12), "cosine"
        base, queries = np.ascontiguousarray(vecs[:n]), np.ascontiguousarray(vecs[n:])
        np.savez(path, base=base, queries=queries, truth=exact_knn(base, queries, metric), metric=metric)
    return path


def anon_rss() -> int:
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("RssAnon:"):
                return int(line.split()[1]) * 1024
    return 0


def sweep(eng, queries, truth, batch):
    rows = []
    for ef in EFS:
        eng.set_ef(ef)
        t = time.perf_counter()
        raw = eng.search_batch(queries, K) if batch else [eng.search_one(q, K) for q in queries]
        took = time.perf_counter() - t
        found = eng.ids_batch(raw) if batch else [eng.ids_one(r) for r in raw]
        rows.append({"ef": ef, "recall": recall(found, truth), "qps": len(queries) / took})
        if rows[-1]["recall"] >= 0.99:
            break
    return rows


def job(args):
    data = np.load(args.data)
    base, queries, truth, metric = data["base"], data["queries"], data["truth"], str(data["metric"])
    work = tempfile.mkdtemp(dir=args.work)
    try:
        eng = engine_class(args.engine)(base.shape[1], metric, THREADS, os.path.join(work, "index"))
        gc.collect()
        rss0, anon0 = rss_bytes(), anon_rss()
        t = time.perf_counter()
        eng.build(base)
        out = {"build_s": time.perf_counter() - t}
        gc.collect()
        out["retained_bytes"] = rss_bytes() - rss0
        out["retained_anon_bytes"] = anon_rss() - anon0
        queries = eng.prepare_queries(queries)
        out["single"] = sweep(eng, queries, truth, batch=False)
        out["batch"] = sweep(eng, queries, truth, batch=True)
        for target in TARGETS:
            out[f"qps_single_{target:.2f}"] = qps_at(out["single"], target)
            out[f"qps_batch_{target:.2f}"] = qps_at(out["batch"], target)
        eng.save()
        eng.close()
        gc.collect()
        t = time.perf_counter()
        eng.reopen()
        eng.set_ef(64)
        eng.search_one(queries[0], K)
        out["reopen_first_search_s"] = time.perf_counter() - t
        eng.close()
        return out
    finally:
        shutil.rmtree(work, ignore_errors=True)


FIGURES = [("build_s", "build s", False), ("retained_bytes", "retained RSS MB", False),
           ("qps_single_0.90", "QPS@0.90 single", True), ("qps_single_0.95", "QPS@0.95 single", True),
           ("qps_batch_0.90", "QPS@0.90 batch", True), ("qps_batch_0.95", "QPS@0.95 batch", True),
           ("reopen_first_search_s", "reopen+1st search s", False)]


def exponent(sizes, values):
    pts = [(n, v) for n, v in zip(sizes, values) if v is not None and v > 0]
    if len(pts) < 2:
        return None
    x, y = np.log([p[0] for p in pts]), np.log([p[1] for p in pts])
    return float(np.polyfit(x, y, 1)[0])


def report(results, engines, out_dir):
    lines = ["# Scale curves", ""]
    for kind, by_size in results.items():
        sizes = sorted(int(n) for n in by_size)
        lines += [f"## {kind}", ""]
        for key, label, higher in FIGURES:
            lines.append(f"### {label}")
            lines.append("")
            lines.append("| engine | " + " | ".join(f"{n:,}" for n in sizes) + " | exponent |")
            lines.append("|---" * (len(sizes) + 2) + "|")
            for e in engines:
                vals = [by_size[str(n)].get(e, {}).get(key) for n in sizes]
                shown = [("-" if v is None else (f"{v / 1e6:.1f}" if key == "retained_bytes" else f"{v:.3g}"))
                         for v in vals]
                b = exponent(sizes, vals)
                lines.append(f"| {e} | " + " | ".join(shown) + f" | {'-' if b is None else f'{b:.2f}'} |")
            for q in ("quarn", "quarn-disk"):
                ratios = []
                for n in sizes:
                    mine = by_size[str(n)].get(q, {}).get(key)
                    peers = [by_size[str(n)].get(p, {}).get(key) for p in PEERS]
                    peers = [p for p in peers if p]
                    if mine is None or not peers:
                        ratios.append("-")
                        continue
                    best = max(peers) if higher else min(peers)
                    # Ratios read "times better than the best peer" for every figure.
                    ratios.append(f"{(mine / best if higher else best / mine):.2f}x")
                lines.append(f"| {q} vs best peer | " + " | ".join(ratios) + " | |")
            lines.append("")
    with open(os.path.join(out_dir, "scale.md"), "w") as f:
        f.write("\n".join(lines) + "\n")
    with open(os.path.join(out_dir, "scale.json"), "w") as f:
        json.dump(results, f, indent=1)
    return "\n".join(lines)


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--job", action="store_true", help=argparse.SUPPRESS)
    p.add_argument("--engine")
    p.add_argument("--data")
    p.add_argument("--sizes", type=int, nargs="+", default=[100_000, 300_000])
    p.add_argument("--dims", type=int, nargs="+", default=[128], choices=[128, 384])
    p.add_argument("--engines", nargs="+", default=["quarn", "quarn-disk", *PEERS])
    p.add_argument("--cache", default=os.path.join(tempfile.gettempdir(), "quarn-bench-cache"))
    p.add_argument("--work", default=tempfile.gettempdir())
    p.add_argument("--out", default="bench-out")
    args = p.parse_args(argv)
    if args.job:
        print(json.dumps(job(args)))
        return
    os.makedirs(args.cache, exist_ok=True)
    os.makedirs(args.out, exist_ok=True)
    engines = [e for e in args.engines if e.startswith("quarn") or engine_class(e).available()]
    results = {}
    for dim in args.dims:
        kind = "clustered" if dim == 128 else "mixture"
        results[kind] = {}
        for n in args.sizes:
            data = make_set(kind, n, args.cache)
            results[kind][str(n)] = {}
            for e in engines:
                cmd = [sys.executable, os.path.abspath(__file__), "--job", "--engine", e, "--data", data,
                       "--work", args.work]
                proc = subprocess.run(cmd, capture_output=True, text=True)
                if proc.returncode != 0:
                    print(f"{e} at {n} failed:\n{proc.stderr[-1500:]}", file=sys.stderr)
                    continue
                results[kind][str(n)][e] = json.loads(proc.stdout.strip().splitlines()[-1])
                print(kind, n, e, {k: v for k, v in results[kind][str(n)][e].items()
                                   if k not in ("single", "batch")}, flush=True)
                report(results, engines, args.out)
    print(report(results, engines, args.out))


if __name__ == "__main__":
    main()
