"""Repeated runs of one library on one dataset folded into one result: every number becomes the
median of the runs, with its relative spread ((max - min) / median) beside it as KEY_spread."""

from __future__ import annotations

import statistics


def _is_number(x) -> bool:
    return isinstance(x, (int, float)) and not isinstance(x, bool)


def fold(runs: list):
    """The median structure of equally shaped results (dicts, lists, numbers, other values)."""
    first = runs[0]
    if isinstance(first, dict):
        out = {}
        for key, value in first.items():
            values = [r.get(key) for r in runs if isinstance(r, dict) and key in r]
            if len(values) == len(runs) and all(_is_number(v) for v in values):
                # A setting (a beam width, a count) is the same in every run and stays as it is.
                out[key] = value if all(v == value for v in values) else statistics.median(values)
                if len(runs) > 1 and isinstance(value, float):
                    middle = out[key]
                    out[key + "_spread"] = (max(values) - min(values)) / abs(middle) if middle else 0.0
            elif len(values) == len(runs):
                out[key] = fold(values)
            else:
                out[key] = value
        return out
    if isinstance(first, list) and all(isinstance(r, list) and len(r) == len(first) for r in runs):
        return [fold([r[i] for r in runs]) for i in range(len(first))]
    return first


def fold_results(runs: list) -> dict:
    """One result from the runs that succeeded; the first error when none did."""
    good = [r for r in runs if "error" not in r]
    if not good:
        return runs[0]
    out = fold(good)
    out["repeats"] = len(good)
    if len(good) < len(runs):
        out["failed_repeats"] = [r["error"] for r in runs if "error" in r]
    return out


SPREAD_LIMIT = 0.25


def doubtful_figures(results: list) -> list:
    """Figures that look wrong: a batch call slower than single calls at the same beam width, and
    figures whose repeats differ by more than SPREAD_LIMIT of their median."""
    flags = []
    for r in results:
        if "error" in r:
            continue
        where = f"{r.get('dataset')} / {r['engine']}"
        rows = list(r.get("search", []))
        for name, sub in (r.get("filtered") or {}).items():
            rows += sub
        for row in rows:
            ef = "exhaustive scan" if row.get("ef") is None else f"ef {row['ef']}"
            label = f"{where}, {row.get('mode')} search, {ef}"
            if row.get("batch_qps") and row.get("single_qps") and row["batch_qps"] < row["single_qps"]:
                flags.append(f"{label}: a batch call ({row['batch_qps']:,.0f} QPS) is slower than single calls "
                             f"({row['single_qps']:,.0f} QPS)")
            for kind in ("single_qps", "batch_qps"):
                spread = row.get(kind + "_spread")
                if spread is not None and spread > SPREAD_LIMIT:
                    flags.append(f"{label}: {kind.replace('_', ' ')} varies by {spread:.0%} between repeats")
        build = r.get("build", {})
        if build.get("vectors_per_s_spread", 0) > SPREAD_LIMIT:
            flags.append(f"{where}: build rate varies by {build['vectors_per_s_spread']:.0%} between repeats")
    return flags
