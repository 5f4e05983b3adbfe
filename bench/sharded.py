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
import json
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


# ------------------------------------------------------------------ report

def quarn_version() -> str:
    try:
        from importlib.metadata import version
        return version("quarn")
    except Exception:  # noqa: BLE001 - a source tree without metadata
        return "(from source)"


def fmt_ms(seconds: float) -> str:
    return f"{seconds * 1e3:.3f}"


def path_name(flags: list) -> str:
    if all(flags):
        return "scan"
    if not any(flags):
        return "graph"
    return "mixed"


def estimate(sets: dict, cores: int) -> dict:
    """Constants of the cost model below, from the measured figures, per set and sharded configuration."""
    constants = {}
    for name, result in sets.items():
        configs = result["configs"]
        single = configs["single"]
        for key, row in configs.items():
            s = row["shards"]
            if s == 1:
                continue
            t_local = row["shard_local_s"]
            call = row["shard_actor_s"] - t_local  # one Ray round trip, beyond the engine's own time
            fan = (row["single_s"] - t_local * -(-s // cores) - call - row["merge_s"]) / (s - 1)
            constants[f"{name}/{key}"] = {
                "shards": s, "t_single_s": single["single_s"], "t_shard_s": t_local, "c_call_s": call,
                "c_fan_s": fan, "t_merge_s": row["merge_s"],
                "t_shard_batch_s": row["shard_local_batch_s"],
                "c_call_batch_s": row["shard_actor_batch_s"] - row["shard_local_batch_s"],
                "w_single_s": single["build_cpu_per_record"], "w_shard_s": row["build_cpu_per_record"],
                "u_single": single["build_cores_busy"], "u_sharded": row["build_cores_busy"],
                "h_s": row["driver_s"]}
    return constants


def predict(name: str, result: dict, constants: dict, cores: int) -> list:
    """The estimate's figures for 1 to 16 shards, on this machine and on one machine per shard.

    Search time t(n) of a shard of n records, from the single database's: proportional to n on the
    scan path, to log2 n on the graph path. c_call, c_fan, the merge per shard and list
    (t_merge / S), the batch costs and the build's w, u and h are the means over the set's sharded
    configurations. No network latency is added.
    """
    rows = [c for key, c in constants.items() if key.startswith(name + "/")]
    if not rows:
        return []
    mean = lambda field: statistics.mean(c[field] for c in rows)  # noqa: E731
    configs = result["configs"]
    n = result["n"]
    single = configs["single"]
    scan = all(all(row["brute_force"]) for row in configs.values())

    def t(records, field="single_s"):
        factor = records / n if scan else np.log2(records) / np.log2(n)
        return single[field] * factor

    call, fan = mean("c_call_s"), mean("c_fan_s")
    merge_each = statistics.mean(c["t_merge_s"] / c["shards"] for c in rows)
    call_b, w, u, h = mean("c_call_batch_s"), mean("w_shard_s"), mean("u_sharded"), mean("h_s")
    out = []
    for s in (1, 2, 4, 8, 16):
        line = {"shards": s}
        for label, machines in (("here", 1), ("spread", s)):
            if s == 1:
                line[f"qps_{label}"] = 1 / single["single_s"]
                line[f"batch_{label}"] = 1 / single["batch_s"]
                line[f"build_{label}"] = single["build_rate"]
                continue
            one = t(n / s) * -(-s // (machines * cores)) + call + fan * (s - 1) + merge_each * s
            line[f"qps_{label}"] = 1 / one
            # A batch keeps a machine's cores busy, as the single database's did: shards on one machine take turns.
            line[f"batch_{label}"] = 1 / (t(n / s, "batch_s") * -(-s // machines) + call_b + merge_each * s)
            # u: the cores the inserting processes got here; one machine per shard gives each its own u.
            line[f"build_{label}"] = min(min(s, machines) * u / w, 1 / h)
        out.append(line)
    return out


def write_report(sets: dict, cores: int, out_dir: str, elapsed: float) -> str:
    constants = estimate(sets, cores)
    md = ["# A sharded collection next to one database", "",
          f"quarn {quarn_version()}, Ray {ray.__version__}, {cores} cores, "
          f"`ray.init(num_cpus={cores})`, one machine. M 16, ef_construction 200, default ef_search, "
          f"l2, k {K}; builds through `add_many` in batches of {BATCH:,}. Searches: median of {ROUNDS} "
          f"interleaved rounds; builds ran once, the configurations taking turns batch by batch. "
          f"Whole run {elapsed / 60:.1f} minutes.", ""]
    for name, result in sets.items():
        md += [f"## {name}: {result['n']:,} x {result['dim']}, {result['queries']} queries", "",
               "| configuration | records per shard | shard search | build records/s | search QPS "
               "| search_many QPS | recall@10 | recall@10 (batch) |",
               "|---|---|---|---:|---:|---:|---:|---:|"]
        for key, row in result["configs"].items():
            md.append(f"| {key} | {', '.join(f'{x:,}' for x in row['shard_size'])} | "
                      f"{path_name(row['brute_force'])} | {row['build_rate']:,.0f} | {1 / row['single_s']:,.0f} | "
                      f"{1 / row['batch_s']:,.0f} | {row['recall']:.4f} | {row['recall_batch']:.4f} |")
        md += ["", "Per query, in milliseconds (search, one at a time; batch columns: `search_many` time "
                   "divided by the queries):", "",
               "| configuration | whole search | one shard, in process | one shard, through its actor "
               "| merge of the shards' lists | whole batch | one shard batch, in process "
               "| one shard batch, through its actor |",
               "|---|---:|---:|---:|---:|---:|---:|---:|"]
        for key, row in result["configs"].items():
            if row["shards"] == 1:
                md.append(f"| {key} | {fmt_ms(row['single_s'])} | {fmt_ms(row['single_s'])} | - | - | "
                          f"{fmt_ms(row['batch_s'])} | {fmt_ms(row['batch_s'])} | - |")
            else:
                md.append(f"| {key} | {fmt_ms(row['single_s'])} | {fmt_ms(row['shard_local_s'])} | "
                          f"{fmt_ms(row['shard_actor_s'])} | {fmt_ms(row['merge_s'])} | {fmt_ms(row['batch_s'])} | "
                          f"{fmt_ms(row['shard_local_batch_s'])} | {fmt_ms(row['shard_actor_batch_s'])} |")
        md.append("")

    md += ["## Constants of the estimate", "",
           "Per query: t_single and t_shard, the search of the whole single database and of one shard, "
           "in process; c_call, one Ray round trip beyond the engine (one shard through its actor minus "
           "in process); c_fan, each further shard in the fan-out (what the sharded search spends beyond "
           "t_shard x ceil(S/C) + c_call + t_merge, divided by S - 1); t_merge, merging the shards' lists in "
           "the driver. The batch columns are the same per query of one `search_many`. Per record built: "
           "w, CPU seconds the inserting processes spent (this process for the single database, the shard "
           "actors summed for the sharded one); u, the cores they kept busy on average; h, the driver's "
           "time besides the inserts (hashing the ids, cutting and storing the blocks, the existence check "
           "on the shards).", "",
           "| set / configuration | t_single | t_shard | c_call | c_fan | t_merge | batch t_shard | batch c_call "
           "| w single | w sharded | u single | u sharded | h |",
           "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for key, c in constants.items():
        md.append(f"| {key} | {fmt_ms(c['t_single_s'])} ms | {fmt_ms(c['t_shard_s'])} ms | "
                  f"{fmt_ms(c['c_call_s'])} ms | {fmt_ms(c['c_fan_s'])} ms | {fmt_ms(c['t_merge_s'])} ms | "
                  f"{fmt_ms(c['t_shard_batch_s'])} ms | {fmt_ms(c['c_call_batch_s'])} ms | "
                  f"{fmt_ms(c['w_single_s'])} ms | {fmt_ms(c['w_shard_s'])} ms | {c['u_single']:.2f} | "
                  f"{c['u_sharded']:.2f} | {fmt_ms(c['h_s'])} ms |")
    md += ["", ESTIMATE.strip(), ""]
    for name, result in sets.items():
        rows = predict(name, result, constants, cores)
        if not rows:
            continue
        md += [f"### The estimate's figures, {name} set ({result['n']:,} records)", "",
               "From the formulas above and the constants measured here (`predict` in bench/sharded.py "
               "says how each is extrapolated). \"here\": every shard on this machine; \"spread\": one "
               "machine like this one per shard, without network latency. 1 shard: the single database.", "",
               "| shards | search QPS here | search QPS spread | search_many QPS here | search_many QPS spread "
               "| build records/s here | build records/s spread |",
               "|---:|---:|---:|---:|---:|---:|---:|"]
        for row in rows:
            md.append(f"| {row['shards']} | {row['qps_here']:,.0f} | {row['qps_spread']:,.0f} | "
                      f"{row['batch_here']:,.0f} | {row['batch_spread']:,.0f} | {row['build_here']:,.0f} | "
                      f"{row['build_spread']:,.0f} |")
        md.append("")
    path = os.path.join(out_dir, "sharded.md")
    with open(path, "w") as fh:
        fh.write("\n".join(md))
    with open(os.path.join(out_dir, "sharded.json"), "w") as fh:
        json.dump({"sets": sets, "constants": constants, "cores": cores,
                   "estimate": {name: predict(name, r, constants, cores) for name, r in sets.items()}}, fh, indent=1)
    return path


ESTIMATE = """
## Estimate: shards and machines

S shards over M machines of C cores each (here M = 1, C = 2), N records, k = 10.

**Single queries, one at a time.** Every shard searches N/S records at once; the driver sends S
calls, waits for them and merges S lists of k:

    T(S) = t_shard(N/S) x ceil(S / (M C)) + c_call + c_fan x (S - 1) + t_merge(S k) [+ network round trip]
    QPS(S) = 1 / T(S)

t_shard(n) is the engine's search of n records: about proportional to n on the scan path, so
splitting divides it by S once there are cores for every shard; on the graph path it grows only
with about log n, so splitting saves little and every shard still walks a graph of its own.
c_call, the Ray round trip, and c_fan, each further shard, are fixed per query and are several
times either engine time here. Sharding raises single-query QPS only when

    t_single(N) - t_shard(N/S) x ceil(S / (M C)) > c_call + c_fan (S - 1) + t_merge(S k)

With the constants above that needs t_single(N) of several milliseconds: on the scan path a store
past the size at which the engine switches to its graph anyway, and on the graph path, where
t_shard(N/2) is nearly t_single(N), never for one query at a time. Shards serve collections that
do not fit, not single-query latency. c_fan as measured here also holds the shard actors' fight
with the driver for two busy cores; with a machine per shard it is mostly the driver's own work
per call, so the "spread" single-query figures below are on the low side. Across machines
ceil(S / (M C)) drops to 1 and a network round trip (tenths of a millisecond on a LAN) joins
c_call; t_merge grows with S k but stays in microseconds up to hundreds of shards.

**Batches.** One `search_many` of Q queries pays the call and the fan-out once, not per query;
what remains per query is the shards' work, c_b (the results' way back through Ray, "batch
c_call" above) and the merge, which the driver does per query in Python:

    T_batch(S) / Q = t_batch(N/S) x ceil(S / M) + c_b + t_merge(S k)

t_batch(n) is one database's `search_many` of n records per query with a machine's cores to
itself (a batch already keeps them busy), so the shards on one machine take turns. On one machine
batches gain nothing: on the scan path S t_batch(N/S) is t_batch(N) again (2 shards come out
even), on the graph path it is nearly S times more (2 shards lose half). Across machines the
shards' term shrinks with S on the scan path and stays near t_batch(N) on the graph path, and
c_b + t_merge, a few hundredths to a tenth of a millisecond, cap one client near ten thousand
queries per second.

**Build.** Inserting is CPU work: w(n) CPU seconds per record, growing slowly with the size n of
the store it goes into, on the u cores the inserting processes get (in the table above: about one
of two or less, whatever the shard count, on a machine shared with other work); the driver adds
h per record:

    rate(S, M) = min( min(S, M) x u / w(N/S), 1 / h )

On one machine every shard competes for the same cores, so sharding changes the rate only as
far as smaller stores insert more cheaply (w(N/S) < w(N)): within noise here. Across machines,
one or more shards each, the rate grows about linearly with M until the driver's 1/h (and its
network link, 4 x dim bytes per record) is the limit; several clients writing different batches
lift that limit too.
"""


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
    path = write_report(sets, cores, args.out, time.perf_counter() - START)
    for name, result in sets.items():
        for key, row in result["configs"].items():
            print(f"{name:5} {key:9} build {row['build_rate']:7,.0f}/s  search {1 / row['single_s']:7,.0f} q/s  "
                  f"search_many {1 / row['batch_s']:7,.0f} q/s  recall {row['recall']:.4f}  "
                  f"path {path_name(row['brute_force'])}")
    print(f"wrote {path}")


if __name__ == "__main__":
    main()
