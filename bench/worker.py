"""Measure one library on one dataset, in a process of its own.

Usage: python worker.py ENGINE DATASET.npz CONFIG.json OUT.json

Running each library in its own process keeps their memory apart: the peak
resident size of the process after the build, minus the resident size before it,
is the build's memory. Results are written as JSON.
"""

from __future__ import annotations

import json
import os
import platform
import shutil
import sys
import time
import traceback

import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
if ROOT not in sys.path:
    sys.path.insert(0, ROOT)

from bench.datasets import FILTERS, K, Dataset, filter_mask, recall  # noqa: E402
from bench.engines import dir_size  # noqa: E402
from bench.peers import ENGINES  # noqa: E402
from bench.procmem import peak_rss_bytes, reset_peak_rss, rss_bytes  # noqa: E402


class Measure:
    def __init__(self, engine, ds: Dataset, cfg: dict, log):
        self.e = engine
        self.ds = ds
        self.cfg = cfg
        self.log = log
        self.queries = engine.prepare_queries(ds.queries)

    def _single(self, fn, n):
        qs = self.queries[:n]
        fn(qs[0])  # warm-up, untimed
        out = []
        t = time.perf_counter()
        for q in qs:
            out.append(fn(q))
        dt = time.perf_counter() - t
        return out, dt

    def _batch(self, fn, n):
        qs = self.queries[:n]
        best, out = None, None
        for _ in range(2):
            t = time.perf_counter()
            raw = fn(qs)
            dt = time.perf_counter() - t
            if best is None or dt < best:
                best, out = dt, raw
            if dt > 1.0:  # long runs are stable enough; do not spend the time twice
                break
        return out, best

    def sweep(self, mode: str, efs, flt=None, gt=None):
        """Recall and QPS over beam widths, single calls and batch calls."""
        e = self.e
        gt = self.ds.gt if gt is None else gt
        n_single = self.cfg["nq_single"] if flt is None else self.cfg["nq_filter_single"]
        n_batch = self.cfg["nq_batch"] if flt is None else self.cfg["nq_filter_batch"]
        rows = []
        scan = e.uses_exhaustive_scan()
        for ef in efs:
            e.set_ef(ef)
            row = {"mode": mode, "ef": ef, "scan": scan}
            if flt is None:
                one, many = (lambda q: e.search_one(q, K)), (lambda qs: e.search_batch(qs, K))
            else:
                one = lambda q: e.search_one_filtered(q, K, flt)  # noqa: E731
                many = lambda qs: e.search_batch_filtered(qs, K, flt)  # noqa: E731
            raw, dt = self._single(one, n_single)
            row["single_qps"] = n_single / dt
            row["single_recall"] = recall([e.ids_one(r) for r in raw], gt[:n_single])
            raw, dt = self._batch(many, n_batch)
            row["batch_qps"] = n_batch / dt
            row["batch_recall"] = recall(e.ids_batch(raw), gt[:n_batch])
            rows.append(row)
            self.log(f"  {mode} ef={ef}: single {row['single_qps']:.0f} q/s r={row['single_recall']:.3f}"
                     f"  batch {row['batch_qps']:.0f} q/s r={row['batch_recall']:.3f}")
            if scan:
                # An exhaustive scan ignores the beam width: one measurement stands for all.
                rows[-1]["ef"] = None
                break
        return rows


def run(engine_name: str, ds_path: str, cfg: dict, log) -> dict:
    ds = Dataset(ds_path)
    cls = ENGINES[engine_name]
    workdir = os.path.join(cfg["workdir"], f"{ds.name}__{engine_name}")
    shutil.rmtree(workdir, ignore_errors=True)
    res = {"engine": engine_name, "dataset": ds.name, "n": ds.n, "dim": ds.dim, "metric": ds.metric,
           "threads": cfg["threads"], "note": cls.note, "source": ds.meta.get("source"), "quantized_of": cls.quantized_of}
    e = cls(ds.dim, ds.metric, cfg["threads"], workdir)
    cats = ds.cat if (ds.cat is not None and ds.meta.get("filters")) else None
    metas = None if cats is None else [{"cat": int(c)} for c in cats]

    # Build by batch insertion; memory is the growth of the peak resident size.
    reset_peak_rss()
    rss0 = rss_bytes()
    t = time.perf_counter()
    e.build(ds.base, metas)
    dt = time.perf_counter() - t
    res["build"] = {"seconds": dt, "vectors_per_s": ds.n / dt, "with_metadata": cats is not None,
                    "peak_mem_bytes": max(0, peak_rss_bytes() - rss0),
                    "retained_mem_bytes": max(0, rss_bytes() - rss0)}
    log(f"  build {dt:.1f} s ({ds.n / dt:.0f} vec/s), peak +{res['build']['peak_mem_bytes'] / 2**20:.0f} MiB")
    res["exhaustive_scan"] = e.uses_exhaustive_scan()
    res["diagnostics"] = e.diagnostics()

    m = Measure(e, ds, cfg, log)
    efs = cfg["efs"]
    res["search"] = m.sweep("quantized" if cls.quantized_of else "float", efs)

    if cls.quantized_kind == "toggle" and ds.meta.get("quantized"):
        e.set_quantized(True)
        res["search"] += m.sweep("quantized", efs)
        e.set_quantized(False)

    if cats is not None and cls.supports_filter and not cls.quantized_of:
        res["filtered"] = {}
        for fname in FILTERS:
            flt = e.make_filter({"where": FILTERS[fname]["where"], "mask": filter_mask(ds.cat, fname)})
            res["filtered"][fname] = m.sweep("filtered " + fname, cfg["filter_efs"], flt=flt,
                                             gt=ds.gt_filtered[fname])

    if not cls.quantized_of:
        e.set_ef(cfg["persist_ef"])
        t = time.perf_counter()
        path = e.save()
        save_s = time.perf_counter() - t
        size = dir_size(path)
        e.close()
        t = time.perf_counter()
        e.reopen()
        e.set_ef(cfg["persist_ef"])
        raw = e.search_one(m.queries[0], K)
        reopen_s = time.perf_counter() - t
        n = min(100, len(ds.queries))
        after = recall(e.ids_batch(e.search_batch(m.queries[:n], K)), ds.gt[:n])
        res["persist"] = {"save_seconds": None if e.save_note else save_s, "save_note": e.save_note,
                          "reopen_seconds": reopen_s, "disk_bytes": size, "recall_after_reopen": after,
                          "first_result_ok": len(e.ids_one(raw)) > 0}
        log(f"  save {save_s:.2f} s, reopen+first query {reopen_s:.3f} s, {size / 2**20:.1f} MiB,"
            f" recall after reopen {after:.3f}")

        # Single add calls into a fresh index, stopped early for slow libraries.
        n = min(cfg["n_single_add"], ds.n)
        add = e.single_adder(n)
        budget = cfg.get("single_add_seconds", 20.0)
        t = time.perf_counter()
        done = 0
        for i in range(n):
            add(i, ds.base[i], None if metas is None else metas[i])
            done += 1
            if time.perf_counter() - t > budget:
                break
        dt = time.perf_counter() - t
        res["single_add"] = {"count": done, "seconds": dt, "vectors_per_s": done / dt}
        log(f"  single adds: {done} in {dt:.2f} s ({done / dt:.0f} vec/s)")

    if not cfg.get("keep_files"):
        shutil.rmtree(workdir, ignore_errors=True)
    return res



# The distribution whose version is reported for each engine.
DISTRIBUTIONS = {"quarn": "quarn", "quarn-sq8": "quarn", "hnswlib": "hnswlib", "faiss": "faiss-cpu",
                 "faiss-sq8": "faiss-cpu", "usearch": "usearch", "usearch-i8": "usearch", "chromadb": "chromadb"}


def versions(engine_name: str) -> dict:
    """Versions of Python, NumPy and the engine's library in this interpreter."""
    from importlib.metadata import PackageNotFoundError, version

    out = {"python": platform.python_version(), "numpy": np.__version__, "interpreter": sys.executable}
    dist = DISTRIBUTIONS.get(engine_name, engine_name)
    try:
        out["library"] = f"{dist} {version(dist)}"
    except PackageNotFoundError:
        out["library"] = f"{dist} (version unknown)"
    return out


def main(argv):
    engine_name, ds_path, cfg_path, out_path = argv
    with open(cfg_path) as f:
        cfg = json.load(f)

    def log(msg):
        print(msg, flush=True)

    try:
        res = run(engine_name, ds_path, cfg, log)
    except Exception as exc:  # reported, not fatal: the other libraries still run
        traceback.print_exc()
        res = {"engine": engine_name, "error": f"{type(exc).__name__}: {exc}"}
    res["max_rss_bytes"] = peak_rss_bytes()
    res["versions"] = versions(engine_name)
    tmp = out_path + ".tmp"
    with open(tmp, "w") as f:
        json.dump(res, f, indent=1, default=lambda o: o.item() if hasattr(o, "item") else str(o))
    os.replace(tmp, out_path)
    return 0 if "error" not in res else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
