"""The sharded run's report: its tables, the constants of a cost model fitted to them, and the
model's figures for more shards and machines. Writes sharded.md and sharded.json."""

from __future__ import annotations

import json
import os
import statistics

import numpy as np


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


def write_report(sets: dict, cores: int, out_dir: str, elapsed: float, run: dict) -> str:
    """run: the settings the header names (ray, k, batch, rounds)."""
    constants = estimate(sets, cores)
    md = ["# A sharded collection next to one database", "",
          f"quarn {quarn_version()}, Ray {run['ray']}, {cores} cores, "
          f"`ray.init(num_cpus={cores})`, one machine. M 16, ef_construction 200, default ef_search, "
          f"l2, k {run['k']}; builds through `add_many` in batches of {run['batch']:,}. "
          f"Searches: median of {run['rounds']} "
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
               "From the formulas above and the constants measured here (`predict` in bench/sharded_report.py "
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
