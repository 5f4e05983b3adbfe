"""A sharded collection next to one database: build rate, QPS and recall, and how they scale.

    python3 bench/sharded.py              # about 7 minutes on 2 cores
    python3 bench/sharded.py --quick      # the scan set only, smaller, about 1 minute
    python3 bench/sharded.py --no-graph   # skip the large set that the shards search by graph

Sets (Gaussian clusters, centres uniform in [-3, 3]^128, sigma 1, fixed seed; held-out
queries; exact top-10 by NumPy brute force):
- scan: 40,000 x 128 in one ``quarn.Database`` and in ``ShardedDatabase`` with 2 and 4 shards.
  Every store is below 10,000,000 floats, so every one answers by the exhaustive scan.
- graph: 160,000 x 128 in one database and in 2 shards of about 80,000, each above that size,
  so each shard answers through its graph.

Per configuration: build rate (``add_many`` in batches of 5,000), single-query QPS (``search``
one query at a time), batch QPS (one ``search_many`` of every query) and recall@10. For each
sharded one also: the search cost of one shard alone, through its actor and in this process
(the shard directory opened read-only), and the merge of the shards' lists. The configurations
take turns, three rounds, and the median is kept; builds run once, taking turns batch by batch.
Ray runs locally with
``ray.init(num_cpus=2)``. Writes OUT/sharded.md and OUT/sharded.json with a written estimate of
how QPS and build rate scale with shard count and machines.
"""

from __future__ import annotations

import argparse
import os
import shutil
import statistics
import sys
import tempfile
import time

import numpy as np

import quarn

try:
    import ray
    from quarn import distributed
    from quarn.distributed import ShardedDatabase, shard_of
except ImportError:  # pragma: no cover
    sys.exit("bench/sharded.py needs Ray: pip install 'quarn[ray]'")

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
if ROOT not in sys.path:
    sys.path.insert(0, ROOT)

from bench.datasets import exact_knn, gaussian_clusters, recall  # noqa: E402
from bench.sharded_report import path_name, write_report  # noqa: E402

K = 10
DIM = 128
BATCH = 5_000
ROUNDS = 3
SCAN_LIMIT = 10_000_000  # floats (dim x count) below which the engine scans exhaustively
START = time.perf_counter()


def log(text: str) -> None:
    print(f"[{time.perf_counter() - START:6.1f}s] {text}", flush=True)


def found_rows(results) -> list:
    """Row numbers of the hits of each query (ids are "r" and the row)."""
    return [[int(hit[0][1:]) for hit in hits] for hits in results]


# ------------------------------------------------------------------ measurement

def cpu_seconds(pid: int) -> float:
    """User plus system CPU time of a local process (Linux /proc), 0.0 where it cannot be read."""
    try:
        with open(f"/proc/{pid}/stat") as fh:
            fields = fh.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    except (OSError, ValueError, IndexError):
        return 0.0


def build_interleaved(configs: dict, ids: list, data: np.ndarray) -> None:
    """Adds every batch to every configuration in turn (the order rotating), timing each add_many.

    Records per configuration the build rate, the CPU seconds its processes spent per record (this
    process for the single database, the shard actors for the sharded ones) and the cores they kept
    busy on average.
    """
    keys = list(configs)
    wall = {key: 0.0 for key in keys}
    cpu = {key: 0.0 for key in keys}
    for b, i in enumerate(range(0, len(ids), BATCH)):
        for key in keys[b % len(keys):] + keys[:b % len(keys)]:
            c = configs[key]
            before = sum(cpu_seconds(pid) for pid in c["pids"])
            start = time.perf_counter()
            c["db"].add_many(ids[i:i + BATCH], data[i:i + BATCH])
            wall[key] += time.perf_counter() - start
            cpu[key] += sum(cpu_seconds(pid) for pid in c["pids"]) - before
    for key in keys:
        configs[key]["build_rate"] = len(ids) / wall[key]
        configs[key]["build_cpu_per_record"] = cpu[key] / len(ids)
        configs[key]["build_cores_busy"] = cpu[key] / wall[key]


def per_query(search, queries: np.ndarray) -> tuple:
    """Seconds per query of ``search`` called once per query, and the results."""
    results = []
    start = time.perf_counter()
    for q in queries:
        results.append(search(q))
    return (time.perf_counter() - start) / len(queries), results


def batch(search_many, queries: np.ndarray) -> tuple:
    start = time.perf_counter()
    results = search_many(queries)
    return (time.perf_counter() - start) / len(queries), results


def actor_search(actor):
    def run(q):
        status, value = ray.get(actor.call.remote("search", q, k=K))
        assert status == "ok", value
        return value
    return run


def actor_search_many(actor):
    def run(qs):
        status, value = ray.get(actor.call.remote("search_many", ray.put(qs), k=K))
        assert status == "ok", value
        return value
    return run


def merge_cost(parts_per_query: list, repeat: int = 5) -> float:
    """Seconds per query of merging the shards' lists of k into one (the driver's part)."""
    start = time.perf_counter()
    for _ in range(repeat):
        for parts in parts_per_query:
            distributed._merge(parts, K)
    return (time.perf_counter() - start) / (repeat * len(parts_per_query))


def driver_cost(db, ids: list) -> float:
    """Seconds per record the driver spends on an add_many batch besides the shards' inserts: choosing
    the shards, cutting and storing the blocks, and the round trip that checks the ids on every shard."""
    block = np.zeros((len(ids), DIM), np.float32)
    times = []
    for _ in range(ROUNDS):
        start = time.perf_counter()
        groups: dict = {}
        for position, id in enumerate(ids):
            groups.setdefault(shard_of(id, db.shards), []).append(position)
        refs = [ray.put(np.ascontiguousarray(block[positions])) for positions in groups.values()]
        ray.get([db.actors[s].existing.remote([ids[p] for p in positions]) for s, positions in groups.items()])
        times.append((time.perf_counter() - start) / len(ids))
        del refs
    return statistics.median(times)


def run_set(name: str, n: int, nq: int, shard_counts: list, workdir: str, cores: int) -> dict:
    log(f"{name}: generating {n:,} x {DIM} and {nq} queries")
    data, queries, *_ = gaussian_clusters(n, nq, DIM, 100, 3.0, seed=7)
    truth = exact_knn(data, queries, "l2", k=K)
    ids = [f"r{i}" for i in range(n)]
    configs: dict = {}

    single = quarn.Database(os.path.join(workdir, f"{name}-single"), dim=DIM, metric="l2")
    configs["single"] = {"shards": 1, "db": single, "pids": [os.getpid()]}
    for s in shard_counts:
        db = ShardedDatabase(os.path.join(workdir, f"{name}-{s}"), shards=s, dim=DIM, metric="l2")
        pids = [ray.get(actor.ready.remote())[1] for actor in db.actors]
        configs[f"{s} shards"] = {"shards": s, "db": db, "pids": pids}
    log(f"{name}: building {', '.join(configs)} in turns, batches of {BATCH:,}")
    build_interleaved(configs, ids, data)
    for key, c in configs.items():
        db = c["db"]
        db.save()
        if c["shards"] == 1:
            c["brute_force"], c["shard_size"] = [db.stats()["uses_brute_force"]], [len(db)]
        else:
            stats = db.stats()["shards"]
            c["brute_force"] = [st["uses_brute_force"] for st in stats]
            c["shard_size"] = [st["num_vectors"] for st in stats]
            c["local0"] = quarn.Database(db.shard_path(0), read_only=True)
            c["driver"] = driver_cost(db, ids[:BATCH])
        log(f"{name}: {key}: {c['build_rate']:,.0f} records/s, {c['build_cores_busy']:.2f} cores busy, "
            f"{path_name(c['brute_force'])}")

    for c in configs.values():  # warm-up: first calls pay for imports, pages and Ray's workers
        c["db"].search(queries[0], k=K)
        c["db"].search_many(queries[:10], k=K)
        if "local0" in c:
            c["local0"].search(queries[0], k=K)
            actor_search(c["db"].actors[0])(queries[0])

    samples: dict = {key: {} for key in configs}
    for r in range(ROUNDS):
        for key, c in configs.items():
            db, got = c["db"], samples[key]
            t, res = per_query(lambda q: db.search(q, k=K), queries)
            got.setdefault("single_s", []).append(t)
            got.setdefault("recall", []).append(recall(found_rows(res), truth))
            t, res = batch(lambda qs: db.search_many(qs, k=K), queries)
            got.setdefault("batch_s", []).append(t)
            got.setdefault("recall_batch", []).append(recall(found_rows(res), truth))
            if "local0" in c:
                actor = db.actors[0]
                got.setdefault("shard_actor_s", []).append(per_query(actor_search(actor), queries)[0])
                got.setdefault("shard_local_s", []).append(per_query(lambda q: c["local0"].search(q, k=K),
                                                                     queries)[0])
                got.setdefault("shard_actor_batch_s", []).append(batch(actor_search_many(actor), queries)[0])
                got.setdefault("shard_local_batch_s", []).append(
                    batch(lambda qs: c["local0"].search_many(qs, k=K), queries)[0])
                parts = [ray.get(a.call.remote("search_many", queries, k=K))[1] for a in db.actors]
                got.setdefault("merge_s", []).append(merge_cost([[p[q] for p in parts]
                                                                 for q in range(len(queries))]))
        log(f"{name}: round {r + 1}/{ROUNDS} done")

    out = {"n": n, "queries": nq, "dim": DIM, "configs": {}}
    for key, c in configs.items():
        row = {k: statistics.median(v) for k, v in samples[key].items()}
        row.update(shards=c["shards"], build_rate=c["build_rate"], brute_force=c["brute_force"],
                   shard_size=c["shard_size"])
        row.update(build_cpu_per_record=c["build_cpu_per_record"], build_cores_busy=c["build_cores_busy"])
        if "driver" in c:
            row["driver_s"] = c["driver"]
        out["configs"][key] = row
    for c in configs.values():
        if "local0" in c:
            c["local0"].close()
        c["db"].close()
    return out


# ------------------------------------------------------------------ main

def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="the scan set only, 20,000 records")
    parser.add_argument("--no-graph", action="store_true", help="skip the 160,000-record set")
    parser.add_argument("--queries", type=int, default=200)
    parser.add_argument("--out", default=os.path.join(HERE, "out"))
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    cores = 2
    ray.init(num_cpus=cores, include_dashboard=False, logging_level="ERROR", log_to_driver=False)
    workdir = tempfile.mkdtemp(prefix="quarn-sharded-")
    sets = {}
    try:
        scan_n = 20_000 if args.quick else 40_000
        sets["scan"] = run_set("scan", scan_n, args.queries, [2, 4], workdir, cores)
        if not (args.quick or args.no_graph):
            n = 2 * (SCAN_LIMIT // DIM + 2_000)  # about 80,000 per shard, each above the scan limit
            sets["graph"] = run_set("graph", n, args.queries, [2], workdir, cores)
    finally:
        shutil.rmtree(workdir, ignore_errors=True)
        ray.shutdown()
    path = write_report(sets, cores, args.out, time.perf_counter() - START,
                        {"ray": ray.__version__, "k": K, "batch": BATCH, "rounds": ROUNDS})
    for name, result in sets.items():
        for key, row in result["configs"].items():
            print(f"{name:5} {key:9} build {row['build_rate']:7,.0f}/s  search {1 / row['single_s']:7,.0f} q/s  "
                  f"search_many {1 / row['batch_s']:7,.0f} q/s  recall {row['recall']:.4f}  "
                  f"path {path_name(row['brute_force'])}")
    print(f"wrote {path}")


if __name__ == "__main__":
    main()
