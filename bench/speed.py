"""Speed and memory against hnswlib and faiss: search, build, memory, save, reopen, replay, scan.

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
skipped when the model package is not installed). Every index: M 16, ef_construction 200.
Writes OUT/speed.md and OUT/speed.json.
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

from bench.search_quality import exact_knn, gaussian_clusters, minilm, recall_of  # noqa: E402

K, M, EFC, THREADS = 10, 16, 200, 2
# Uniform 128-d data needs beams past 1000 to reach recall 0.95 with M 16.
EFS = [10, 16, 24, 32, 48, 64, 96, 128, 192, 256, 384, 512, 768, 1024, 1536, 2048]
PASSES = 3  # timed passes per beam; the median is kept
TARGETS = (0.90, 0.95)
ENGINES = ("quarn", "hnswlib", "faiss")


# ------------------------------------------------------------------ process memory

def _status(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    return 0


def reset_peak():
    # Writing 5 to clear_refs resets VmHWM to the current RSS (Linux >= 4.0).
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
    except OSError:
        pass


# ------------------------------------------------------------------ time spent in fsync

# quarn syncs every file it saves; hnswlib and faiss do not. To compare the work of saving, quarn's
# jobs run with this shim preloaded: it passes fsync and fdatasync through and adds up their time.
SYNC_SHIM = r"""
#define _GNU_SOURCE
#include <dlfcn.h>
#include <time.h>
static long long total_ns;
static long long now_ns(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}
#define TIMED(name)                                                      \
  int name(int fd) {                                                     \
    static int (*real)(int);                                             \
    if (!real) real = (int (*)(int))dlsym(RTLD_NEXT, #name);             \
    long long start = now_ns();                                          \
    int rc = real(fd);                                                   \
    __atomic_add_fetch(&total_ns, now_ns() - start, __ATOMIC_RELAXED);  \
    return rc;                                                           \
  }
TIMED(fsync)
TIMED(fdatasync)
double quarn_bench_sync_seconds(void) { return __atomic_load_n(&total_ns, __ATOMIC_RELAXED) * 1e-9; }
"""


def build_sync_shim(work):
    """Compiles the shim into `work`; None when there is no C compiler."""
    source, lib = os.path.join(work, "sync_shim.c"), os.path.join(work, "sync_shim.so")
    with open(source, "w") as f:
        f.write(SYNC_SHIM)
    cc = shutil.which("cc") or shutil.which("gcc")
    if cc is None or subprocess.run([cc, "-O2", "-shared", "-fPIC", "-o", lib, source, "-ldl"]).returncode != 0:
        return None
    return lib


def sync_seconds():
    """Seconds this process has spent in fsync/fdatasync, or None without the preloaded shim."""
    import ctypes

    shim = next((p for p in os.environ.get("LD_PRELOAD", "").split(":") if p.endswith("sync_shim.so")), None)
    if shim is None:
        return None
    fn = ctypes.CDLL(shim).quarn_bench_sync_seconds
    fn.restype = ctypes.c_double
    return fn()


# ------------------------------------------------------------------ engines (one per process)

class Quarn:
    quantize = False

    def __init__(self, dim, metric, path):
        import quarn

        self.quarn, self.path, self.dim, self.metric = quarn, path, dim, metric
        self.db = quarn.Database(path, dim=dim, metric=metric, m=M, ef_construction=EFC, quantize=self.quantize)

    def build(self, vecs):
        self.db.add_many([str(i) for i in range(len(vecs))], vecs)

    def add_one(self, i, vec):
        self.db.add(str(i), vec)

    def query(self, q, ef):
        return [int(h.id) for h in self.db.search(q, k=K, ef_search=ef)]

    def batch(self, qs, ef):
        return [[int(h.id) for h in r] for r in self.db.search_many(qs, k=K, ef_search=ef)]

    def save(self):
        synced = sync_seconds()
        self.db.save()
        if synced is not None:
            self.last_sync_s = sync_seconds() - synced

    def close(self):
        self.db.close()

    def reopen(self):
        self.db = self.quarn.Database(self.path)


class QuarnSQ8(Quarn):
    """quarn with SQ8 codes for the graph walk (opt-in, `--engines quarn,quarn-sq8,...`): the
    walk reads a quarter of the bytes per row, the final ranking uses exact distances. Not a peer:
    it gets its own table, so that the trade (codes in memory, other neighbours at a given beam)
    can be weighed against the default."""

    quantize = True

    def build(self, vecs):
        super().build(vecs)
        self.db.enable_quantized_search()

    def reopen(self):
        # A database saved with quantize=True reopens with quantized search on; enabling it
        # again would retrain the quantizer, which a user never needs to do after an open.
        super().reopen()
        if not self.db.quantized_search:
            raise RuntimeError("quantized search is off after reopening a database saved with quantize=True")


class Hnswlib:
    def __init__(self, dim, metric, path):
        import hnswlib

        self.hnswlib, self.path, self.dim = hnswlib, path, dim
        self.space = "l2" if metric == "l2" else "cosine"
        self.idx = None

    def _new(self, capacity):
        self.idx = self.hnswlib.Index(space=self.space, dim=self.dim)
        self.idx.init_index(max_elements=capacity, M=M, ef_construction=EFC, random_seed=1)

    def build(self, vecs):
        self._new(len(vecs))
        self.idx.add_items(vecs, np.arange(len(vecs)), num_threads=THREADS)

    def add_one(self, i, vec):
        if self.idx is None:
            self._new(1 << 16)
        self.idx.add_items(vec[None, :], [i], num_threads=1)

    def query(self, q, ef):
        self.idx.set_ef(max(ef, K))
        return list(self.idx.knn_query(q, k=K, num_threads=1)[0][0])

    def batch(self, qs, ef):
        self.idx.set_ef(max(ef, K))
        return [list(r) for r in self.idx.knn_query(qs, k=K, num_threads=THREADS)[0]]

    def save(self):
        self.idx.save_index(self.path)

    def close(self):
        self.idx = None

    def reopen(self):
        self.idx = self.hnswlib.Index(space=self.space, dim=self.dim)
        self.idx.load_index(self.path)


class Faiss:
    def __init__(self, dim, metric, path):
        import faiss

        self.faiss, self.path, self.dim, self.cosine = faiss, path, dim, metric == "cosine"
        self.idx = None

    def _rows(self, x):
        x = np.ascontiguousarray(x, dtype=np.float32)
        if self.cosine:
            x = x / np.maximum(np.linalg.norm(x, axis=-1, keepdims=True), 1e-30)
        return x

    def _new(self):
        space = self.faiss.METRIC_INNER_PRODUCT if self.cosine else self.faiss.METRIC_L2
        self.idx = self.faiss.IndexHNSWFlat(self.dim, M, space)
        self.idx.hnsw.efConstruction = EFC

    def build(self, vecs):
        self.faiss.omp_set_num_threads(THREADS)
        self._new()
        self.idx.add(self._rows(vecs))

    def add_one(self, i, vec):
        self.faiss.omp_set_num_threads(1)
        if self.idx is None:
            self._new()
        self.idx.add(self._rows(vec[None, :]))

    def _search(self, qs, ef, threads):
        self.faiss.omp_set_num_threads(threads)
        self.idx.hnsw.efSearch = max(ef, K)
        return self.idx.search(self._rows(qs), K)[1]

    def query(self, q, ef):
        return list(self._search(q[None, :], ef, 1)[0])

    def batch(self, qs, ef):
        return [list(r) for r in self._search(qs, ef, THREADS)]

    def save(self):
        self.faiss.write_index(self.idx, self.path)

    def close(self):
        self.idx = None

    def reopen(self):
        self.idx = self.faiss.read_index(self.path)


ENGINE_CLASSES = {"quarn": Quarn, "quarn-sq8": QuarnSQ8, "hnswlib": Hnswlib, "faiss": Faiss}


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


def qps_sweep(eng, queries, truth, batch):
    rows = []
    for ef in EFS:
        times = []
        for _ in range(PASSES):
            t = time.perf_counter()
            if batch:
                found = eng.batch(queries, ef)
            else:
                found = [eng.query(q, ef) for q in queries]
            times.append(time.perf_counter() - t)
        rows.append({"ef": ef, "recall": recall_of(found, truth), "qps": len(queries) / float(np.median(times))})
        if rows[-1]["recall"] >= 0.995:
            break
    return rows


def job_graph(args):
    with job_data(args) as (base, queries, truth, metric, work):
        eng = ENGINE_CLASSES[args.engine](base.shape[1], metric, os.path.join(work, "index"))
        gc.collect()
        rss0 = _status("VmRSS")
        reset_peak()
        t = time.perf_counter()
        eng.build(base)
        build_s = time.perf_counter() - t
        gc.collect()
        out = {"build_s": build_s, "build_vps": len(base) / build_s,
               "retained_bytes_per_vector": (_status("VmRSS") - rss0) / len(base),
               "peak_over_retained": (_status("VmHWM") - rss0) / max(1, _status("VmRSS") - rss0)}
        out["single"] = qps_sweep(eng, queries, truth, batch=False)
        out["batch"] = qps_sweep(eng, queries, truth, batch=True)
        t = time.perf_counter()
        eng.save()
        out["save_s"] = time.perf_counter() - t
        if getattr(eng, "last_sync_s", None) is not None:
            out["save_apart_from_sync_s"] = out["save_s"] - eng.last_sync_s
        eng.close()
        gc.collect()
        t = time.perf_counter()
        eng.reopen()
        out["reopen_s"] = time.perf_counter() - t
        t = time.perf_counter()
        eng.query(queries[0], 64)
        out["first_search_s"] = time.perf_counter() - t
        t = time.perf_counter()
        eng.query(queries[1], 64)
        out["second_search_s"] = time.perf_counter() - t
        eng.close()
        return out


def job_single_add(args):
    with job_data(args) as (base, _, _, metric, work):
        rows = base[: args.adds]
        eng = ENGINE_CLASSES[args.engine](base.shape[1], metric, os.path.join(work, "index"))
        t = time.perf_counter()
        for i, v in enumerate(rows):
            eng.add_one(i, v)
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
        f"db = quarn.Database({path!r}, dim=rows.shape[1], metric={metric!r}, m={M}, ef_construction={EFC})\n"
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

def prepare(cache, quick):
    # Both sizes stay above the exhaustive-scan limit (10,000,000 floats), so the graph answers.
    n = 80_000 if quick else 100_000
    nq = 200 if quick else 1000
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
            truth = np.asarray(exact_knn(base, queries, metric))
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


def qps_at(rows, target):
    """QPS at a recall target, interpolated between the beams on either side; None if never reached."""
    prev = None
    for row in rows:
        if row["recall"] >= target:
            if prev is None or row["recall"] == prev["recall"]:
                return row["qps"]
            f = (target - prev["recall"]) / (row["recall"] - prev["recall"])
            return float(np.exp(np.log(prev["qps"]) + f * (np.log(row["qps"]) - np.log(prev["qps"]))))
        prev = row
    return None


def med(values):
    values = [v for v in values if v is not None]
    if not values:
        return None, None
    return float(np.median(values)), float(max(values) - min(values))


def summarise(rounds):
    """Median and spread of every scalar figure over the rounds of one engine and set."""
    out = {}
    keys = [k for k, v in rounds[0].items() if isinstance(v, (int, float))]
    for key in keys:
        out[key] = med([r[key] for r in rounds])
    for mode in ("single", "batch"):
        for target in TARGETS:
            out[f"{mode}_qps@{target}"] = med([qps_at(r[mode], target) for r in rounds if mode in r])
    return out


def ratio(mine, theirs, lower_is_better=False):
    if mine is None or theirs is None or mine == 0 or theirs == 0:
        return None
    return theirs / mine if lower_is_better else mine / theirs


def fmt(value, pattern):
    return "-" if value is None else pattern.format(value)


LOWER_IS_BETTER = {"build_s", "retained_bytes_per_vector", "peak_over_retained", "save_s", "reopen_s",
                   "first_search_s", "second_search_s", "save_apart_from_sync_s"}
# quarn-only figures compared with the peers' figure of the same work (the peers do not sync).
PEER_FIGURE = {"save_apart_from_sync_s": "save_s"}


PEERS = ("hnswlib", "faiss")


def graph_table(per_engine, mine):
    """Rows of one set's table: `mine` (a quarn engine) against each peer and the best of them."""
    lines = [f"| figure | {mine} | hnswlib | faiss | vs hnswlib | vs best peer |", "|---|---|---|---|---|---|"]
    for key in per_engine[mine]:
        vals = {e: per_engine[e].get(PEER_FIGURE.get(key, key) if e in PEERS else key, (None, None))[0]
                for e in per_engine}
        lower = key in LOWER_IS_BETTER
        peers = [vals[e] for e in PEERS if vals.get(e) is not None]
        best = (min(peers) if lower else max(peers)) if peers else None
        cells = [fmt(vals.get(e), "{:.4g}") for e in (mine,) + PEERS]
        cells += [fmt(ratio(vals[mine], vals.get("hnswlib"), lower), "{:.2f}x"),
                  fmt(ratio(vals[mine], best, lower), "{:.2f}x")]
        lines.append(f"| {key} | " + " | ".join(cells) + " |")
    return lines + [""]


def write_report(results, out, meta):
    lines = ["# quarn speed and memory against hnswlib and faiss", "",
             f"Versions: {meta['versions']}. quarn commit {meta['commit']}. Rounds: {meta['rounds']} "
             "(median; spread = max - min). Ratios > 1 mean quarn is better.", ""]
    for name, per_engine in results["graph"].items():
        for mine in [e for e in per_engine if e not in PEERS]:
            title = name if mine == "quarn" else f"{name}, {mine}"
            lines += [f"## {title}", ""] + graph_table(per_engine, mine)
    if "single_add" in results:
        lines += ["## single add (one record per call)", ""]
        for e, v in results["single_add"].items():
            lines.append(f"- {e}: {v['adds_per_s'][0]:.0f}/s (spread {v['adds_per_s'][1]:.0f})")
        lines.append("")
    if "replay" in results:
        r = results["replay"]
        lines += ["## log replay (quarn)", "",
                  f"- add_many that wrote the log: {r['add_many_s'][0]:.2f} s; reopen replaying it: "
                  f"{r['replay_s'][0]:.2f} s (replay/add_many {r['replay_s'][0] / r['add_many_s'][0]:.2f})", ""]
    if "scan" in results:
        lines += ["## exact scan (quarn's exhaustive path)", ""]
        for label, r in results["scan"].items():
            lines.append(f"- {label}: one query {r['single_s'][0] * 1e3:.2f} ms = {r['single_over_read'][0]:.2f}x the "
                         f"time to read the vectors once ({r['bandwidth_gbs'][0]:.1f} GB/s); batch {r['batch_qps'][0]:.0f} q/s")
        lines.append("")
    with open(os.path.join(out, "speed.md"), "w") as f:
        f.write("\n".join(lines) + "\n")
    with open(os.path.join(out, "speed.json"), "w") as f:
        json.dump({"meta": meta, "results": results}, f, indent=1)


def versions():
    import importlib.metadata as md

    found = {}
    for pkg in ("quarn", "hnswlib", "faiss-cpu", "numpy"):
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
    p.add_argument("--engines", default=",".join(ENGINES))
    p.add_argument("--out", default=os.path.join(HERE, "out"))
    p.add_argument("--cache", default=os.path.join(tempfile.gettempdir(), "quarn-bench-cache"))
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
    engines = args.engines.split(",")
    sets = prepare(args.cache, args.quick)
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
