"""Markdown report of bench/keyword_speed.py's results (OUT/keyword.md)."""

from __future__ import annotations

import os
import platform
import time

from bench.report import _fmt, _table

AGREEMENT_GOAL = 0.999
QPS_GOALS = {"bm25s": 2.0, "tantivy": 1.0}
INDEX_GOAL_TANTIVY = 1.0


def _fig(entry) -> str:
    return f"{entry['median']:,.0f} (±{entry['spread'] / 2:,.0f})"


def _best_bm25s(per_call: dict, batch: dict):
    """The fastest way bm25s answered: (label, queries/s)."""
    options = [(f"{n}, one per call", v["median"]) for n, v in per_call.items() if n.startswith("bm25s")]
    options += [(f"{n}, whole batch", v["median"]) for n, v in batch.items()]
    return max(options, key=lambda o: o[1])


def speed_lines(s: dict) -> list[str]:
    v = s["versions"]
    agree = s["agreement"]
    share = agree["same_top10"] / agree["of"]
    qps = s["queries_per_s"]
    mine = qps["quarn"]["median"]
    best_label, best_bm25s = _best_bm25s(qps, s["batch_queries_per_s"])
    tantivy = qps["tantivy"]["median"]
    docs = s["documents_per_s"]
    lines = [
        "## Keyword search",
        "",
        f"{s['passages']:,} passages of local text ({s['terms']:,} terms, {s['distinct_terms']:,} distinct), "
        f"{s['queries']:,} queries of 1 to 5 words drawn from passages (mean {s['query_terms_mean']:.1f} terms), "
        f"top {10}. One CPU (the process is pinned), CPU time of the process, median of {s['repeats']} repeats "
        "(± half the spread). "
        f"quarn {v['quarn']}, bm25s {v['bm25s']} (Numba {v['numba'] or 'not installed'}), tantivy {v['tantivy']}, "
        f"NumPy {v['numpy']}, Python {v['python']}.",
        "",
        f"- top-10 identical to {agree['reference']} (ids; ties within 1e-5 relative equal): "
        f"{agree['same_top10']} of {agree['of']} = {share:.2%} (goal ≥ {AGREEMENT_GOAL:.1%}: "
        f"{'met' if share >= AGREEMENT_GOAL else 'missed'})",
        f"- tantivy's top 10 shares {s['tantivy_top10_overlap']:.1%} of quarn's rows (its own tokenizer and "
        "length quantisation; not expected to be identical)",
        f"- a record added to the built database is found by its word at once: "
        f"{'yes' if s['found_after_add'] else 'NO'}",
        "",
        "Queries per second (higher is better):",
        "",
    ]
    rows = [[n, _fig(e), _fmt(mine / e["median"])] for n, e in qps.items()]
    rows += [[f"{n}, whole batch in one call", _fig(e), _fmt(mine / e["median"])]
             for n, e in s["batch_queries_per_s"].items()]
    lines.append(_table(["engine", "queries/s", "quarn ÷ this"], rows))
    lines += [
        "",
        f"quarn ÷ best bm25s ({best_label}): {mine / best_bm25s:.2f} (goal ≥ {QPS_GOALS['bm25s']:.1f}); "
        f"quarn ÷ tantivy: {mine / tantivy:.2f} (goal ≥ {QPS_GOALS['tantivy']:.1f}).",
        "",
        "Indexing, documents per second (higher is better):",
        "",
    ]
    notes = {
        "quarn": "add_many, documents and 1-d vectors",
        "quarn, no documents": "add_many, 1-d vectors only (no keyword work)",
        "quarn, 384-d vectors": "add_many, documents and 384-d vectors (graph built too; one run)",
        "tantivy": "one writer thread, then commit",
    }
    rows = [[n, notes.get(n, "index from quarn's terms (tokenizing not timed)"), _fig(e),
             _fmt(e["median"] / docs["tantivy"]["median"])] for n, e in docs.items()]
    lines.append(_table(["engine", "what is timed", "documents/s", "÷ tantivy"], rows))
    with_docs, without = docs["quarn"]["median"], docs["quarn, no documents"]["median"]
    if with_docs < without:
        keyword_only = 1.0 / (1.0 / with_docs - 1.0 / without)
        lines += ["", f"The documents' share of add_many (1-d with documents minus 1-d without): "
                  f"{keyword_only:,.0f} documents/s, {keyword_only / docs['tantivy']['median']:.2f}× tantivy."]
    if agree["examples"]:
        lines += ["", "First disagreements with bm25s (row, score):", ""]
        lines += [f"- `{e['query']}`: quarn {e['quarn'][:4]}… bm25s {e['bm25s'][:4]}…" for e in agree["examples"]]
    return lines


def hybrid_lines(h: dict) -> list[str]:
    scores = h["scores"]
    best_single = max(scores["keyword"]["ndcg@10"], scores["vector"]["ndcg@10"])
    lines = [
        "",
        "## Hybrid quality",
        "",
        f"{h['passages']:,} passages, {h['queries']} queries (a sentence taken out of its passage; the passage "
        f"without it is the one right answer); MiniLM vectors (quarn.embeddings \"minilm\"), cosine, ef_search "
        f"{h['ef_search']}; k 10.",
        "",
    ]
    rows = [[n, f"{s['ndcg@10']:.4f}", f"{s['found@10']:.3f}", f"{s['ndcg@10'] - best_single:+.4f}"]
            for n, s in scores.items()]
    lines.append(_table(["search", "nDCG@10", "answer in top 10", "− best of keyword, vector"], rows))
    return lines


def write_report(out: str, results: dict) -> str:
    lines = [f"# quarn keyword benchmark ({time.strftime('%Y-%m-%d %H:%M')}, {platform.machine()}, "
             f"{os.cpu_count()} CPUs)", ""]
    lines += speed_lines(results["speed"])
    if "hybrid" in results:
        lines += hybrid_lines(results["hybrid"])
    path = os.path.join(out, "keyword.md")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    return path
