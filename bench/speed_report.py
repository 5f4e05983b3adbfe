"""The speed report: medians of the rounds, QPS at a recall target, and quarn's figures as
ratios to each peer and to the best of them. Writes speed.md and speed.json."""

from __future__ import annotations

import json
import os

import numpy as np

TARGETS = (0.90, 0.95)
# The peers in the order of the report's columns; a peer that did not run has no column.
PEERS = ("hnswlib", "faiss", "usearch")


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


def graph_table(per_engine, mine):
    """Rows of one set's table: `mine` (a quarn engine) against each peer and the best of them."""
    peers = tuple(p for p in PEERS if p in per_engine)
    lines = [f"| figure | {mine} | " + "".join(f"{p} | " for p in peers) + "vs hnswlib | vs best peer |",
             "|---|---|" + "---|" * len(peers) + "---|---|"]
    for key in per_engine[mine]:
        vals = {e: per_engine[e].get(PEER_FIGURE.get(key, key) if e in PEERS else key, (None, None))[0]
                for e in per_engine}
        lower = key in LOWER_IS_BETTER
        theirs = [vals[e] for e in peers if vals.get(e) is not None]
        best = (min(theirs) if lower else max(theirs)) if theirs else None
        cells = [fmt(vals.get(e), "{:.4g}") for e in (mine,) + peers]
        cells += [fmt(ratio(vals[mine], vals.get("hnswlib"), lower), "{:.2f}x"),
                  fmt(ratio(vals[mine], best, lower), "{:.2f}x")]
        lines.append(f"| {key} | " + " | ".join(cells) + " |")
    return lines + [""]


def write_report(results, out, meta):
    ran = {e for per_engine in results["graph"].values() for e in per_engine}
    against = " and ".join(", ".join(p for p in PEERS if p in ran).rsplit(", ", 1)) or "no peer"
    lines = [f"# quarn speed and memory against {against}", "",
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


