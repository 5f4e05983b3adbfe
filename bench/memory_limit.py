"""Queries under a real memory limit: a cgroup v1 memory controller around the query process.

    sudo python bench/memory_limit.py --n 100000 --dim 384      # root: the cgroup must be writable

The index of each engine is built once without a limit and saved. Then, for each limit (a fraction
of the collection's float32 bytes, 100% down to 25%, plus the query process's own baseline: the
interpreter with NumPy and the engine imported, measured first and reported), a fresh process joins
a new cgroup (memory.limit_in_bytes; page cache is charged to the group, and the index files'
cached pages are dropped first with POSIX_FADV_DONTNEED so no earlier run's cache is read for
free), opens the index and runs the queries one at a time: QPS, recall@10, p50 and p99 latency,
and the group's peak usage. Engines: quarn with vectors_in_memory=False (graph and codes resident,
rows re-ranked from vectors.bin), hnswlib (the whole index loaded: with no swap it is killed once
the limit is below the index) and usearch's memory-mapped view (Index.restore(view=True)).
Nothing in the test command depends on this script. Writes OUT/memory_limit.md and .json.
"""

from __future__ import annotations

import argparse
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

from bench.datasets import K, recall  # noqa: E402

CGROUP_ROOT = "/sys/fs/cgroup/memory"
FRACTIONS = (1.0, 0.75, 0.5, 0.4, 0.25)
ENGINES = ("quarn-disk", "hnswlib", "usearch-view")
EF = 128


def build(engine, base, metric, work):
    """Builds and saves one engine's index; returns its path."""
    from bench.scale import QuarnDisk
    from bench.peers import Hnswlib, Usearch

    cls = {"quarn-disk": QuarnDisk, "hnswlib": Hnswlib, "usearch-view": Usearch}[engine]
    eng = cls(base.shape[1], metric, 2, os.path.join(work, engine))
    eng.build(base)
    path = eng.save()
    eng.close()
    return path


def drop_cached_pages(path):
    files = [path] if os.path.isfile(path) else [os.path.join(r, f) for r, _, fs in os.walk(path) for f in fs]
    for name in files:
        fd = os.open(name, os.O_RDONLY)
        try:
            os.fsync(fd)
            os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
        finally:
            os.close(fd)


def child(args):
    """Joins the cgroup, opens the index, answers the queries; prints a JSON line."""
    import quarn  # noqa: F401  (imported before the baseline is reported)
    import hnswlib  # noqa: F401
    import usearch.index  # noqa: F401

    if args.cgroup:
        with open(os.path.join(args.cgroup, "cgroup.procs"), "w") as f:
            f.write(str(os.getpid()))
    data = np.load(args.data)
    queries, truth, dim, metric = data["queries"], data["truth"], int(data["dim"]), str(data["metric"])
    t = time.perf_counter()
    if args.engine == "quarn-disk":
        db = quarn.Database(args.index, read_only=True, vectors_in_memory=False)
        search = lambda q: [int(h.id) for h in db.search(q, k=K, ef_search=EF)]  # noqa: E731
    elif args.engine == "hnswlib":
        idx = hnswlib.Index(space="l2" if metric == "l2" else "cosine", dim=dim)
        idx.load_index(args.index)
        idx.set_ef(EF)
        search = lambda q: [int(x) for x in idx.knn_query(q, k=K, num_threads=1)[0][0]]  # noqa: E731
    else:
        idx = usearch.index.Index.restore(args.index, view=True)
        idx.expansion_search = EF
        search = lambda q: [int(x) for x in idx.search(q, K, threads=1).keys]  # noqa: E731
    open_s = time.perf_counter() - t
    lat, found = [], []
    for q in queries:
        t = time.perf_counter()
        found.append(search(q))
        lat.append(time.perf_counter() - t)
    lat = np.array(lat)
    print(json.dumps({"open_s": open_s, "qps": len(lat) / lat.sum(), "recall": recall(found, truth),
                      "p50_ms": 1e3 * float(np.percentile(lat, 50)), "p99_ms": 1e3 * float(np.percentile(lat, 99)),
                      "max_ms": 1e3 * float(lat.max())}))


def baseline_bytes(data):
    """Resident bytes of a query process before it opens anything."""
    code = ("import numpy, quarn, hnswlib, usearch.index\n"
            "print([l.split()[1] for l in open('/proc/self/status') if l.startswith('VmRSS')][0])")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    return int(out.stdout.strip()) * 1024


def run_limited(engine, index, data, limit, timeout):
    name = os.path.join(CGROUP_ROOT, f"quarn-bench-{os.getpid()}-{engine}-{limit}")
    os.makedirs(name, exist_ok=True)
    try:
        with open(os.path.join(name, "memory.limit_in_bytes"), "w") as f:
            f.write(str(limit))
        drop_cached_pages(index)
        cmd = [sys.executable, os.path.abspath(__file__), "--child", "--engine", engine, "--index", index,
               "--data", data, "--cgroup", name]
        try:
            proc = subprocess.run(cmd, capture_output=True, text=True, timeout=timeout)
        except subprocess.TimeoutExpired:
            return {"failed": f"no answer within {timeout} s"}
        peak = int(open(os.path.join(name, "memory.max_usage_in_bytes")).read())
        if proc.returncode != 0:
            return {"failed": f"exit {proc.returncode}" + (" (killed: out of memory)" if proc.returncode < 0 else ""),
                    "peak_bytes": peak}
        out = json.loads(proc.stdout.strip().splitlines()[-1])
        out["peak_bytes"] = peak
        return out
    finally:
        for _ in range(50):
            try:
                os.rmdir(name)
                break
            except OSError:
                time.sleep(0.1)


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--child", action="store_true", help=argparse.SUPPRESS)
    p.add_argument("--engine")
    p.add_argument("--index")
    p.add_argument("--cgroup")
    p.add_argument("--data")
    p.add_argument("--n", type=int, default=100_000)
    p.add_argument("--dim", type=int, default=384, choices=[128, 384])
    p.add_argument("--engines", nargs="+", default=list(ENGINES))
    p.add_argument("--fractions", type=float, nargs="+", default=list(FRACTIONS))
    p.add_argument("--timeout", type=float, default=600)
    p.add_argument("--cache", default=os.path.join(tempfile.gettempdir(), "quarn-bench-cache"))
    p.add_argument("--work", default=tempfile.gettempdir())
    p.add_argument("--out", default="bench-out")
    args = p.parse_args(argv)
    if args.child:
        child(args)
        return
    from bench.scale import make_set

    os.makedirs(args.cache, exist_ok=True)
    os.makedirs(args.out, exist_ok=True)
    kind = "clustered" if args.dim == 128 else "mixture"
    set_path = make_set(kind, args.n, args.cache)
    d = np.load(set_path)
    queries = d["queries"][:300]
    data = os.path.join(args.cache, f"limit-{kind}-{args.n}.npz")
    np.savez(data, queries=queries, truth=d["truth"][:300], dim=d["base"].shape[1], metric=d["metric"])
    float_bytes = d["base"].nbytes
    baseline = baseline_bytes(data)
    work = tempfile.mkdtemp(dir=args.work)
    results = {"n": args.n, "dim": args.dim, "float_bytes": float_bytes, "baseline_bytes": baseline, "runs": {}}
    try:
        for engine in args.engines:
            index = build(engine, d["base"], str(d["metric"]), work)
            for fraction in args.fractions:
                limit = int(fraction * float_bytes) + baseline
                r = run_limited(engine, index, data, limit, args.timeout)
                r["limit_bytes"] = limit
                results["runs"].setdefault(engine, {})[str(fraction)] = r
                print(engine, fraction, r, flush=True)
            shutil.rmtree(os.path.dirname(index) if os.path.isfile(index) else index, ignore_errors=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    lines = [f"# Queries under a memory limit: {args.n:,} x {args.dim}", "",
             f"float32 bytes {float_bytes / 1e6:.0f} MB; each limit is the fraction of them plus the query "
             f"process's own baseline of {baseline / 1e6:.0f} MB. ef_search {EF}, k {K}, {len(queries)} queries "
             "one at a time, cached pages of the index dropped before each run.", "",
             "| engine | limit | QPS | recall@10 | p50 ms | p99 ms | max ms | peak MB | QPS vs 100% |",
             "|---|---|---|---|---|---|---|---|---|"]
    for engine, runs in results["runs"].items():
        top = runs.get("1.0", {}).get("qps")
        for fraction, r in runs.items():
            if "failed" in r:
                lines.append(f"| {engine} | {float(fraction):.0%} | {r['failed']} | | | | | "
                             f"{r.get('peak_bytes', 0) / 1e6:.0f} | |")
                continue
            ratio = f"{r['qps'] / top:.2f}" if top else "-"
            lines.append(f"| {engine} | {float(fraction):.0%} | {r['qps']:.0f} | {r['recall']:.3f} | {r['p50_ms']:.2f} | "
                         f"{r['p99_ms']:.2f} | {r['max_ms']:.1f} | {r['peak_bytes'] / 1e6:.0f} | {ratio} |")
    with open(os.path.join(args.out, "memory_limit.md"), "w") as f:
        f.write("\n".join(lines) + "\n")
    with open(os.path.join(args.out, "memory_limit.json"), "w") as f:
        json.dump(results, f, indent=1)
    print("\n".join(lines))


if __name__ == "__main__":
    main()
