"""Speed and memory against hnswlib, faiss and usearch: search, build, memory, save, reopen, replay, scan.

    python bench/speed.py                 # 100,000-vector sets, three rounds: the longest run
    python bench/speed.py --quick         # 80,000-vector sets, one round (about 8 minutes on 2 cores)
    python bench/speed.py --quick --rounds 3   # about 22 minutes on 2 cores
    python bench/speed.py --baseline /tmp/old-quarn   # also time an older build's exact scan

Every figure is taken in a fresh process per engine (so memory figures are the engine's own),
the engines take turns, and each figure is the median of the rounds (spread = max - min). The
report gives quarn's figures as ratios to hnswlib and to the best peer; compare ratios, not the
absolute numbers, because the machine is shared.

Sets: uniform (vectors uniform in [0, 1]^128, l2), clustered (100 Gaussian clusters, sigma 1,
centres uniform in [-3, 3]^128, l2) and minilm (all-MiniLM-L6-v2 sentence embeddings, cosine;
skipped when the model package is not installed). Every index: M 16, ef_construction 200, the
same beams; the engines are those of bench/engines.py and bench/peers.py, and a peer that is not
installed is left out. Writes OUT/speed.md and OUT/speed.json.
"""

from __future__ import annotations

import argparse
import contextlib
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

from bench.datasets import K, exact_knn, gaussian_clusters, minilm, recall  # noqa: E402
from bench.engines import EF_CONSTRUCTION, M  # noqa: E402
from bench.peers import ENGINES  # noqa: E402
from bench.procmem import peak_rss_bytes, reset_peak_rss, rss_bytes  # noqa: E402
from bench.speed_report import summarise, write_report  # noqa: E402
from bench.sync_shim import build_sync_shim, sync_seconds  # noqa: E402

THREADS = 2
# Uniform 128-d data needs beams past 1000 to reach recall 0.95 with M 16.
EFS = [10, 16, 24, 32, 48, 64, 96, 128, 192, 256, 384, 512, 768, 1024, 1536, 2048]
PASSES = 3  # timed passes per beam; the median is kept
DEFAULT_ENGINES = ("quarn", "hnswlib", "faiss", "usearch")


# ------------------------------------------------------------------ jobs (run in a child process)

def load_set(cache, name):
    data = np.load(os.path.join(cache, f"{name}.npz"))
    return data["base"], data["queries"], data["truth"], str(data["metric"])


@contextlib.contextmanager
def job_data(args):
    """The set's arrays and a scratch directory that is removed afterwards."""
    work = tempfile.mkdtemp(dir=args.work)
    try:
        yield (*load_set(args.cache, args.set), work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def new_engine(name, dim, metric, work):
    return ENGINES[name](dim, metric, THREADS, os.path.join(work, "index"))


def qps_sweep(eng, queries, truth, batch):
    rows = []
    for ef in EFS:
        eng.set_ef(ef)
        times = []
        for _ in range(PASSES):
            t = time.perf_counter()
            raw = eng.search_batch(queries, K) if batch else [eng.search_one(q, K) for q in queries]
            times.append(time.perf_counter() - t)
        found = eng.ids_batch(raw) if batch else [eng.ids_one(r) for r in raw]
        rows.append({"ef": ef, "recall": recall(found, truth), "qps": len(queries) / float(np.median(times))})
        if rows[-1]["recall"] >= 0.995:
            break
    return rows


def job_graph(args):
    with job_data(args) as (base, queries, truth, metric, work):
        eng = new_engine(args.engine, base.shape[1], metric, work)
        gc.collect()
        rss0 = rss_bytes()
        reset_peak_rss()
        t = time.perf_counter()
        eng.build(base)
        build_s = time.perf_counter() - t
        gc.collect()
        out = {"build_s": build_s, "build_vps": len(base) / build_s,
               "retained_bytes_per_vector": (rss_bytes() - rss0) / len(base),
               "peak_over_retained": (peak_rss_bytes() - rss0) / max(1, rss_bytes() - rss0)}
        queries = eng.prepare_queries(queries)
        out["single"] = qps_sweep(eng, queries, truth, batch=False)
        out["batch"] = qps_sweep(eng, queries, truth, batch=True)
        synced = sync_seconds()
        t = time.perf_counter()
        eng.save()
        out["save_s"] = time.perf_counter() - t
        if synced is not None:
            out["save_apart_from_sync_s"] = out["save_s"] - (sync_seconds() - synced)
        eng.close()
        gc.collect()
        t = time.perf_counter()
        eng.reopen()
        out["reopen_s"] = time.perf_counter() - t
        eng.set_ef(64)
        for i, key in enumerate(("first_search_s", "second_search_s")):
            t = time.perf_counter()
            eng.search_one(queries[i], K)
            out[key] = time.perf_counter() - t
        eng.close()
        return out


def job_single_add(args):
    with job_data(args) as (base, _, _, metric, work):
        rows = base[: args.adds]
        add = new_engine(args.engine, base.shape[1], metric, work).single_adder(len(rows))
        t = time.perf_counter()
        for i, v in enumerate(rows):
            add(i, v, None)
        return {"adds_per_s": len(rows) / (time.perf_counter() - t)}


def job_replay(args):
    """quarn only: the time to reopen a database from its log against the add_many that wrote it."""
    with job_data(args) as (base, _, _, metric, work):
        rows = base[: args.replay]
        path = os.path.join(work, "db")
        writer = textwrap_child(path, metric, rows, work)
        wrote = json.loads(subprocess.run([sys.executable, "-c", writer], check=True, capture_output=True,
                                          text=True).stdout.strip().splitlines()[-1])["add_many_s"]
        import quarn

        t = time.perf_counter()
        db = quarn.Database(path)
        replay_s = time.perf_counter() - t
        assert len(db) == len(rows)
        db.close()
        return {"add_many_s": wrote, "replay_s": replay_s}


def textwrap_child(path, metric, rows, work):
    # A writer that dies right after add_many, so that only the log holds the records.
    np.save(os.path.join(work, "rows.npy"), rows)
    return (
        "import json, os, time, numpy as np, quarn\n"
        f"rows = np.load({os.path.join(work, 'rows.npy')!r})\n"
        f"db = quarn.Database({path!r}, dim=rows.shape[1], metric={metric!r}, m={M},"
        f" ef_construction={EF_CONSTRUCTION})\n"
        "t = time.perf_counter()\n"
        "db.add_many([str(i) for i in range(len(rows))], rows)\n"
        "print(json.dumps({'add_many_s': time.perf_counter() - t}), flush=True)\n"
        "os._exit(0)\n")


def job_scan(args):
    """quarn's exact path: one query against the time to read the vectors once, and a batch."""
    if args.pythonpath:
        sys.path.insert(0, args.pythonpath)
    import quarn

    rng = np.random.default_rng(5)
    n, dim = args.scan_rows, 128
    base = rng.normal(size=(n, dim)).astype(np.float32)
    queries = rng.normal(size=(args.scan_queries, dim)).astype(np.float32)
    # Memory bandwidth: the fastest of a few read-only passes over the same bytes.
    reads = []
    for _ in range(5):
        t = time.perf_counter()
        base.sum(dtype=np.float32)
        reads.append(time.perf_counter() - t)
        t = time.perf_counter()
        base @ queries[0]
        reads.append(time.perf_counter() - t)
    read_s = min(reads)
    work = tempfile.mkdtemp(dir=args.work)
    try:
        db = quarn.Database(os.path.join(work, "db"), dim=dim)
        db.add_many([str(i) for i in range(n)], base)
        db.search(queries[0], k=K)  # first-scan work (hints, lazy state) out of the timing
        singles = []
        for q in queries[:50]:
            t = time.perf_counter()
            db.search(q, k=K)
            singles.append(time.perf_counter() - t)
        t = time.perf_counter()
        db.search_many(queries, k=K)
        batch_s = time.perf_counter() - t
        db.close()
        return {"read_s": read_s, "bandwidth_gbs": base.nbytes / read_s / 1e9, "single_s": float(np.median(singles)),
                "single_over_read": float(np.median(singles)) / read_s, "batch_qps": len(queries) / batch_s}
    finally:
        shutil.rmtree(work, ignore_errors=True)


JOBS = {"graph": job_graph, "single_add": job_single_add, "replay": job_replay, "scan": job_scan}


# ------------------------------------------------------------------ driver

def prepare(cache, quick, size=None):
    # Both sizes stay above the exhaustive-scan limit (10,000,000 floats), so the graph answers.
    n = size or (80_000 if quick else 100_000)
    nq = 200 if quick or size else 1000
    rng = np.random.default_rng(1)
    sets = {"uniform": (rng.uniform(size=(n, 128)).astype(np.float32),
                        rng.uniform(size=(nq, 128)).astype(np.float32), "l2")}
    base, queries, *_ = gaussian_clusters(n, nq, 128, 100, 3.0, seed=2)
    sets["clustered"] = (base, queries, "l2")
    mini = minilm(30_000, 500, cache)
    if mini is not None:
        sets["minilm"] = (mini[0], mini[1], "cosine")
    for name, (base, queries, metric) in sets.items():
        path = os.path.join(cache, f"{name}.npz")
        if not os.path.exists(path) or np.load(path)["base"].shape != base.shape:
            truth = exact_knn(base, queries, metric)
            np.savez(path, base=base, queries=queries, truth=truth, metric=metric)
    return list(sets)


def run_job(job, preload=None, env_extra=None, **kw):
    cmd = [sys.executable, os.path.abspath(__file__), "--job", job]
    for key, value in kw.items():
        cmd += [f"--{key.replace('_', '-')}", str(value)]
    env = dict(os.environ, **(env_extra or {}))
    if preload:
        env["LD_PRELOAD"] = ":".join(p for p in (preload, env.get("LD_PRELOAD")) if p)
    proc = subprocess.run(cmd, capture_output=True, text=True, env=env)
    if proc.returncode != 0:
        raise RuntimeError(f"{' '.join(cmd)} failed:\n{proc.stderr[-2000:]}")
    return json.loads(proc.stdout.strip().splitlines()[-1])


def versions():
    import importlib.metadata as md

    found = {}
    for pkg in ("quarn", "hnswlib", "faiss-cpu", "usearch", "numpy"):
        try:
            found[pkg] = md.version(pkg)
        except md.PackageNotFoundError:
            pass
    found["python"] = sys.version.split()[0]
    return ", ".join(f"{k} {v}" for k, v in found.items())


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--quick", action="store_true")
    p.add_argument("--rounds", type=int, default=None)
    p.add_argument("--sets", default=None, help="comma-separated subset of uniform,clustered,minilm")
    p.add_argument("--engines", default=",".join(DEFAULT_ENGINES))
    p.add_argument("--out", default=os.path.join(HERE, "out"))
    p.add_argument("--cache", default=os.path.join(tempfile.gettempdir(), "quarn-bench-cache"))
    p.add_argument("--size", type=int, default=None, help="vectors per synthetic set (a quick look)")
    p.add_argument("--baseline", default=None, help="PYTHONPATH of an older quarn build for the scan figures")
    # Child-process arguments.
    p.add_argument("--job", default=None)
    p.add_argument("--engine", default=None)
    p.add_argument("--set", default=None)
    p.add_argument("--work", default=None)
    p.add_argument("--adds", type=int, default=3000)
    p.add_argument("--replay", type=int, default=30_000)
    p.add_argument("--scan-rows", type=int, default=70_000)
    p.add_argument("--scan-queries", type=int, default=1000)
    p.add_argument("--pythonpath", default=None,
                   help="quarn build to measure (a --target directory); every job imports it first")
    args = p.parse_args(argv)
    if args.pythonpath and not args.job:
        # Jobs run in child processes: they inherit the path through the environment.
        os.environ["PYTHONPATH"] = os.pathsep.join(
            [args.pythonpath] + [x for x in os.environ.get("PYTHONPATH", "").split(os.pathsep) if x])
        sys.path.insert(0, args.pythonpath)  # the report's version line names that build
    if args.job:
        print(json.dumps(JOBS[args.job](args)), flush=True)
        return
    os.makedirs(args.out, exist_ok=True)
    os.makedirs(args.cache, exist_ok=True)
    work = tempfile.mkdtemp(prefix="quarn-speed-")
    rounds = args.rounds or (1 if args.quick else 3)
    engines = [e for e in args.engines.split(",") if ENGINES[e].available()]
    if len(engines) < len(args.engines.split(",")):
        print("not installed, left out:", ", ".join(sorted(set(args.engines.split(",")) - set(engines))))
    sets = prepare(args.cache, args.quick, args.size)
    if args.sets:
        sets = [s for s in sets if s in args.sets.split(",")]
    common = {"cache": args.cache, "work": work}
    shim = build_sync_shim(work)
    raw = {"graph": {s: {e: [] for e in engines} for s in sets}, "single_add": {e: [] for e in engines},
           "replay": [], "scan": {"current": []}}
    if args.baseline:
        raw["scan"]["baseline"] = []
    try:
        for r in range(rounds):
            for s in sets:
                for e in (engines if r % 2 == 0 else engines[::-1]):  # take turns, alternate the order
                    print(f"round {r + 1}/{rounds}: {s} {e}", flush=True)
                    preload = shim if e.startswith("quarn") else None
                    raw["graph"][s][e].append(run_job("graph", preload=preload, engine=e, set=s, **common))
            for e in engines:
                raw["single_add"][e].append(run_job("single_add", engine=e, set=sets[0], **common))
            replay_rows = 5000 if args.quick else args.replay
            # numpy's BLAS threads spin for a while after import; the replay is timed right after
            # the import and the add_many later, so without this the spin lands on the replay only.
            raw["replay"].append(run_job("replay", env_extra={"OPENBLAS_NUM_THREADS": "1"}, engine="quarn",
                                         set=sets[0], replay=replay_rows, **common))
            for label in raw["scan"]:
                extra = {"pythonpath": args.baseline} if label == "baseline" else {}
                raw["scan"][label].append(run_job("scan", **extra, **common))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    results = {"graph": {s: {e: summarise(raw["graph"][s][e]) for e in engines} for s in sets},
               "single_add": {e: summarise(raw["single_add"][e]) for e in engines},
               "replay": summarise(raw["replay"]),
               "scan": {label: summarise(v) for label, v in raw["scan"].items()}}
    commit = subprocess.run(["git", "-C", ROOT, "rev-parse", "--short", "HEAD"], capture_output=True,
                            text=True).stdout.strip() or "unknown"
    write_report(results, args.out, {"versions": versions(), "commit": commit, "rounds": rounds})
    print(open(os.path.join(args.out, "speed.md")).read())


if __name__ == "__main__":
    main()

