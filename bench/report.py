"""Markdown report and PNG plots from the workers' JSON results.

Every figure is also given as a ratio to the best peer (the best of the other
libraries in the same group), which survives a noisy machine better than the
absolute numbers: a ratio above 1 means more than the best peer, and the column
header says whether more is better.
"""

from __future__ import annotations

import os
import platform
import time

from bench.aggregate import SPREAD_LIMIT, doubtful_figures

TARGETS = (0.90, 0.95, 0.99)
QUANTIZED_LABEL = {"quarn": "quarn-sq8"}
MiB = 2 ** 20


# ---------------------------------------------------------------- helpers

def _fmt(x, digits=None):
    if x is None:
        return "—"
    if isinstance(x, str):
        return x
    if digits is not None:
        return f"{x:.{digits}f}"
    a = abs(x)
    if a >= 100:
        return f"{x:,.0f}"
    if a >= 10:
        return f"{x:.1f}"
    if a >= 1:
        return f"{x:.2f}"
    return f"{x:.3f}"


def _ratio(x, best):
    if x is None or best is None or best == 0:
        return ""
    return f" ({x / best:.2f}×)"


def best_qps_at(rows, kind, target):
    """Highest QPS among the beam widths whose recall reaches the target."""
    ok = [r[kind + "_qps"] for r in rows if r[kind + "_recall"] >= target - 1e-9]
    return max(ok) if ok else None


def max_recall(rows, kind):
    return max((r[kind + "_recall"] for r in rows), default=None)


def search_groups(ds_results):
    """{label: rows} for the float group and the quantized group of one dataset."""
    floats, quants = {}, {}
    for r in ds_results:
        if "error" in r:
            continue
        name = r["engine"]
        rows_f = [x for x in r.get("search", []) if x["mode"] == "float"]
        rows_q = [x for x in r.get("search", []) if x["mode"] == "quantized"]
        if rows_f:
            floats[name] = rows_f
        if rows_q:
            quants[QUANTIZED_LABEL.get(name, name)] = rows_q
    return floats, quants


def _is_quarn(label):
    return label.startswith("quarn")


def _best_peer(values: dict, higher_better=True, exclude=()):
    peers = [v for k, v in values.items() if not _is_quarn(k) and v is not None and k not in exclude]
    if not peers:
        return None
    return max(peers) if higher_better else min(peers)


class Summary:
    """Collects quarn's ratio to the best peer for every figure, for the summary."""

    def __init__(self):
        self.items = []

    def add(self, dataset, what, quarn_value, best_peer, higher_better=True, peer_name=""):
        if quarn_value is None and best_peer:
            # A recall target the best peer reaches and quarn does not.
            self.items.append({"dataset": dataset, "what": what, "ratio": None, "advantage": 0.0,
                               "higher_better": higher_better, "peer": peer_name, "peer_value": best_peer})
            return
        if quarn_value is None or best_peer in (None, 0):
            return
        ratio = quarn_value / best_peer
        # "advantage" > 1 means quarn is better, whichever direction is better.
        adv = ratio if higher_better else (1.0 / ratio if ratio else float("inf"))
        self.items.append({"dataset": dataset, "what": what, "ratio": ratio, "advantage": adv,
                           "higher_better": higher_better, "peer": peer_name})


def _peer_name(values, best, exclude=()):
    for k, v in values.items():
        if not _is_quarn(k) and v == best and k not in exclude:
            return k
    return ""


# ---------------------------------------------------------------- tables

def _table(header, rows):
    out = ["| " + " | ".join(header) + " |", "|" + "|".join("---" for _ in header) + "|"]
    out += ["| " + " | ".join(str(c) for c in row) + " |" for row in rows]
    return "\n".join(out)


def _search_section(ds, group_name, groups, summary):
    lines = []
    for kind, kind_text in (("single", "single calls"), ("batch", "batch calls")):
        header = ["library"] + [f"QPS at recall ≥ {t:.2f}" for t in TARGETS] + ["best recall", "spread of QPS"]
        per_target = {t: {lab: best_qps_at(rows, kind, t) for lab, rows in groups.items()} for t in TARGETS}
        best = {t: _best_peer(per_target[t]) for t in TARGETS}
        recalls = {lab: max_recall(rows, kind) for lab, rows in groups.items()}
        best_rec = _best_peer(recalls)
        rows = []
        for lab, srows in groups.items():
            scan = bool(srows and srows[0].get("scan"))
            name = lab
            if scan and group_name == "quantized":
                name = f"{lab} (exhaustive scan: no quantization used)"
            elif scan:
                name = f"{lab} (exhaustive scan)"
            cells = [f"**{name}**" if _is_quarn(lab) else name]
            for t in TARGETS:
                cells.append(_fmt(per_target[t][lab]) + _ratio(per_target[t][lab], best[t]))
            cells.append(_fmt(recalls[lab], 3) + _ratio(recalls[lab], best_rec))
            spreads = [r.get(kind + "_qps_spread") for r in srows if r.get(kind + "_qps_spread") is not None]
            cells.append(f"±{max(spreads) / 2:.0%}" if spreads else "—")
            rows.append(cells)
            if not _is_quarn(lab):
                continue
            if scan:
                # One exact scan answers every recall target at the same speed: it is one figure,
                # counted once, and only among the float results, where the scan really runs.
                if group_name == "float":
                    t = TARGETS[0]
                    summary.add(ds, f"exhaustive-scan search, {kind_text}, QPS (exact results)",
                                per_target[t][lab], best[t], True, _peer_name(per_target[t], best[t]))
                continue
            for t in TARGETS:
                summary.add(ds, f"{group_name} search, {kind_text}, QPS at recall ≥ {t:.2f}",
                            per_target[t][lab], best[t], True, _peer_name(per_target[t], best[t]))
        lines.append(f"*{kind_text.capitalize()}* (QPS: higher is better; ratio = library ÷ best peer)\n")
        lines.append(_table(header, rows))
        lines.append("")
    # Full sweep
    header = ["library", "ef", "single QPS", "single recall", "batch QPS", "batch recall"]
    rows = []
    for lab, srows in groups.items():
        for r in srows:
            rows.append([lab, "scan" if r["ef"] is None else r["ef"], _fmt(r["single_qps"]),
                         _fmt(r["single_recall"], 3), _fmt(r["batch_qps"]), _fmt(r["batch_recall"], 3)])
    lines.append("<details><summary>every beam width</summary>\n")
    lines.append(_table(header, rows))
    lines.append("\n</details>\n")
    return lines


def _build_section(ds, ds_results, summary):
    vals = {"batch": {}, "single": {}, "peak": {}, "retained": {}}
    for r in ds_results:
        if "error" in r or "build" not in r:
            continue
        lab = r["engine"]
        vals["batch"][lab] = r["build"]["vectors_per_s"]
        vals["peak"][lab] = r["build"]["peak_mem_bytes"] / MiB
        vals["retained"][lab] = r["build"]["retained_mem_bytes"] / MiB
        if "single_add" in r:
            vals["single"][lab] = r["single_add"]["vectors_per_s"]
    # quarn's quantized search needs no build of its own, so its build is compared with
    # the full-precision peers only; the quantized peers' builds are listed for reference.
    quant = {r["engine"] for r in ds_results if r.get("quantized_of")}
    best = {"batch": _best_peer(vals["batch"], True, quant), "single": _best_peer(vals["single"], True, quant),
            "peak": _best_peer(vals["peak"], False, quant), "retained": _best_peer(vals["retained"], False, quant)}
    rows = []
    for lab in vals["batch"]:
        rows.append([f"**{lab}**" if _is_quarn(lab) else lab,
                     _fmt(vals["batch"][lab]) + _ratio(vals["batch"][lab], best["batch"]),
                     _fmt(vals["single"].get(lab)) + _ratio(vals["single"].get(lab), best["single"]),
                     _fmt(vals["peak"][lab]) + _ratio(vals["peak"][lab], best["peak"]),
                     _fmt(vals["retained"][lab]) + _ratio(vals["retained"][lab], best["retained"])])
    if "quarn" in vals["batch"]:
        for key, what, hb in (("batch", "build, batch insert (vectors/s)", True),
                              ("single", "build, single add calls (vectors/s)", True),
                              ("peak", "build, peak memory", False)):
            summary.add(ds, what, vals[key].get("quarn"), best[key], hb, _peer_name(vals[key], best[key], quant))
    header = ["library", "batch insert vectors/s ↑", "single add vectors/s ↑", "peak memory MiB ↓",
              "memory kept after build MiB ↓"]
    return [_table(header, rows), ""]


def _persist_section(ds, ds_results, summary):
    vals = {"save": {}, "reopen": {}, "disk": {}}
    notes, recall_after = {}, {}
    for r in ds_results:
        p = r.get("persist")
        if not p or "error" in r:
            continue
        lab = r["engine"]
        vals["save"][lab] = p["save_seconds"]
        vals["reopen"][lab] = p["reopen_seconds"]
        vals["disk"][lab] = p["disk_bytes"] / MiB
        recall_after[lab] = p["recall_after_reopen"]
        if p.get("save_note"):
            notes[lab] = p["save_note"]
    if not vals["disk"]:
        return []
    best = {k: _best_peer(v, False) for k, v in vals.items()}
    rows = []
    for lab in vals["disk"]:
        save = vals["save"][lab]
        rows.append([f"**{lab}**" if _is_quarn(lab) else lab,
                     (_fmt(save) + _ratio(save, best["save"])) if save is not None else "n/a¹",
                     _fmt(vals["reopen"][lab]) + _ratio(vals["reopen"][lab], best["reopen"]),
                     _fmt(vals["disk"][lab]) + _ratio(vals["disk"][lab], best["disk"]),
                     _fmt(recall_after[lab], 3)])
    if "quarn" in vals["disk"]:
        for key, what in (("save", "save time"), ("reopen", "reopen + first query time"),
                          ("disk", "size on disk")):
            summary.add(ds, what, vals[key].get("quarn"), best[key], False, _peer_name(vals[key], best[key]))
    header = ["library", "save s ↓", "reopen + first query s ↓", "size on disk MiB ↓", "recall after reopen"]
    lines = [_table(header, rows), ""]
    for lab, note in notes.items():
        lines.append(f"¹ {lab}: {note}.")
    lines.append("")
    return lines


def _filtered_section(ds, ds_results, summary):
    lines = []
    filt = {r["engine"]: r["filtered"] for r in ds_results if "filtered" in r and "error" not in r}
    if not filt:
        return lines
    names = list(next(iter(filt.values())).keys())
    for fname in names:
        lines.append(f"*Filter matching about {fname} of the records*\n")
        for kind in ("single", "batch"):
            groups = {lab: f[fname] for lab, f in filt.items()}
            q90 = {lab: best_qps_at(rows, kind, 0.9) for lab, rows in groups.items()}
            rec = {lab: max_recall(rows, kind) for lab, rows in groups.items()}
            b90, brec = _best_peer(q90), _best_peer(rec)
            all_efs = {r["ef"] for rows in groups.values() for r in rows}
            efs = ([None] if None in all_efs else []) + sorted(e for e in all_efs if e is not None)
            header = (["library"] + [f"ef {ef}: recall / QPS" if ef is not None else "exhaustive scan: recall / QPS"
                                     for ef in efs]
                      + ["QPS at recall ≥ 0.90 ↑", "best recall ↑"])
            rows = []
            for lab, srows in groups.items():
                cells = [f"**{lab}**" if _is_quarn(lab) else lab]
                by_ef = {r["ef"]: r for r in srows}
                for ef in efs:
                    r = by_ef.get(ef)
                    cells.append("—" if r is None else f"{r[kind + '_recall']:.3f} / {_fmt(r[kind + '_qps'])}")
                cells.append(_fmt(q90[lab]) + _ratio(q90[lab], b90))
                cells.append(_fmt(rec[lab], 3) + _ratio(rec[lab], brec))
                rows.append(cells)
            if "quarn" in groups:
                summary.add(ds, f"filtered {fname}, {kind} calls, best recall", rec["quarn"], brec, True,
                            _peer_name(rec, brec))
                summary.add(ds, f"filtered {fname}, {kind} calls, QPS at recall ≥ 0.90", q90["quarn"], b90,
                            True, _peer_name(q90, b90))
            lines.append(f"{kind} calls:\n")
            lines.append(_table(header, rows))
            lines.append("")
    return lines


# ---------------------------------------------------------------- plots

STYLE = {"quarn": ("tab:red", "o"), "hnswlib": ("tab:blue", "s"), "faiss": ("tab:green", "^"),
         "usearch": ("tab:purple", "D"), "chromadb": ("tab:orange", "v")}


def _style(label):
    base = label.split("-")[0]
    color, marker = STYLE.get(base, ("tab:gray", "x"))
    quant = label != base
    return dict(color=color, marker=marker, linestyle="--" if quant else "-",
                linewidth=2.4 if base == "quarn" else 1.4, markersize=6 if base == "quarn" else 4)


def _plot_recall_qps(plt, ax, groups, kind, title):
    for lab, rows in groups.items():
        xs = [r[kind + "_recall"] for r in rows]
        ys = [r[kind + "_qps"] for r in rows]
        st = _style(lab)
        if len(rows) == 1 and rows[0]["ef"] is None:
            ax.plot(xs, ys, linestyle="none", color=st["color"], marker="*", markersize=14,
                    label=f"{lab} (exhaustive scan)")
        else:
            ax.plot(xs, ys, label=lab, **st)
    ax.set_yscale("log")
    ax.set_xlabel("recall@10")
    ax.set_ylabel("queries per second")
    ax.set_title(title)
    ax.grid(True, which="both", alpha=0.3)
    ax.legend(fontsize=7)


def _plots(out, by_ds, log):
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        log("matplotlib is not installed: no plots")
        return {}
    files = {}
    for ds, results in by_ds.items():
        floats, quants = search_groups(results)
        groups = dict(floats)
        groups.update(quants)
        if not groups:
            continue
        fig, axes = plt.subplots(1, 2, figsize=(13, 5))
        for ax, kind in zip(axes, ("single", "batch")):
            _plot_recall_qps(plt, ax, groups, kind, f"{ds}: {kind} calls (dashed: quantized)")
        fig.tight_layout()
        name = f"recall_qps_{ds}.png"
        fig.savefig(os.path.join(out, name), dpi=90)
        plt.close(fig)
        files[ds] = [name]
        filt = {r["engine"]: r["filtered"] for r in results if "filtered" in r and "error" not in r}
        if filt:
            fnames = list(next(iter(filt.values())).keys())
            fig, axes = plt.subplots(2, len(fnames), figsize=(6.5 * len(fnames), 9), squeeze=False)
            for j, fname in enumerate(fnames):
                g = {lab: f[fname] for lab, f in filt.items()}
                for i, kind in enumerate(("single", "batch")):
                    _plot_recall_qps(plt, axes[i][j], g, kind, f"{ds}: filter ~{fname}, {kind} calls")
            fig.tight_layout()
            name = f"filtered_{ds}.png"
            fig.savefig(os.path.join(out, name), dpi=90)
            plt.close(fig)
            files[ds].append(name)

    # Build throughput and resources, grouped bars over datasets.
    import numpy as np

    engines = []
    for results in by_ds.values():
        for r in results:
            if "error" not in r and r["engine"] not in engines:
                engines.append(r["engine"])
    metrics = [("batch insert vectors/s (higher is better)", lambda r: r.get("build", {}).get("vectors_per_s")),
               ("single add vectors/s (higher is better)", lambda r: r.get("single_add", {}).get("vectors_per_s")),
               ("peak build memory MiB (lower is better)",
                lambda r: r.get("build", {}).get("peak_mem_bytes", 0) / MiB if "build" in r else None),
               ("size on disk MiB (lower is better)",
                lambda r: r["persist"]["disk_bytes"] / MiB if "persist" in r else None),
               ("save seconds (lower is better)", lambda r: r.get("persist", {}).get("save_seconds")),
               ("reopen + first query seconds (lower is better)",
                lambda r: r.get("persist", {}).get("reopen_seconds"))]
    dss = list(by_ds)
    for fname, chosen in (("build.png", metrics[:2]), ("resources.png", metrics[2:])):
        ncol = 2
        nrow = (len(chosen) + 1) // 2
        fig, axes = plt.subplots(nrow, ncol, figsize=(13, 4.6 * nrow), squeeze=False)
        width = 0.8 / max(1, len(engines))
        for ax, (title, get) in zip(axes.flat, chosen):
            for j, eng in enumerate(engines):
                vals = []
                for ds in dss:
                    r = next((x for x in by_ds[ds] if x.get("engine") == eng and "error" not in x), None)
                    v = get(r) if r else None
                    vals.append(np.nan if v is None else v)
                color = _style(eng)["color"]
                ax.bar(np.arange(len(dss)) + j * width, vals, width, label=eng, color=color,
                       hatch="//" if "-" in eng else None, edgecolor="black" if eng == "quarn" else None)
            ax.set_xticks(np.arange(len(dss)) + width * (len(engines) - 1) / 2)
            ax.set_xticklabels(dss, fontsize=8)
            ax.set_yscale("log")
            ax.set_title(title, fontsize=10)
            ax.grid(True, axis="y", which="both", alpha=0.3)
        handles, labels = axes.flat[0].get_legend_handles_labels()
        fig.legend(handles, labels, loc="lower center", ncol=len(engines), fontsize=8)
        fig.tight_layout(rect=(0, 0.05, 1, 1))
        fig.savefig(os.path.join(out, fname), dpi=90)
        plt.close(fig)
        files.setdefault("_all", []).append(fname)
    return files


# ---------------------------------------------------------------- report

def _summary_lines(summary: Summary):
    items = summary.items
    if not items:
        return ["No quarn results to compare."]

    def cell(i):
        if i["ratio"] is None:
            return "not reached"
        mark = "**" if i["advantage"] >= 1.05 else ""
        return f"{mark}{i['ratio']:.2f}×{mark}" + (f" {i['peer']}" if i["peer"] else "")

    def item(i):
        peer = f" ({i['peer']})" if i["peer"] else ""
        if i["ratio"] is None:
            return (f"- {i['dataset']}: {i['what']}: **not reached** by quarn; the best peer{peer} reaches it "
                    f"at {_fmt(i['peer_value'])}")
        direction = "" if i["higher_better"] else " (lower is better)"
        return f"- {i['dataset']}: {i['what']}: **{i['ratio']:.2f}×** the best peer{peer}{direction}"

    lead = sorted((i for i in items if i["advantage"] >= 1.05), key=lambda i: -i["advantage"])
    trail = sorted((i for i in items if i["advantage"] <= 1 / 1.05), key=lambda i: i["advantage"])
    even = len(items) - len(lead) - len(trail)
    lines = [f"quarn leads in {len(lead)}, is level (within 5%) in {even} and trails in {len(trail)} "
             f"of {len(items)} comparisons with the best peer.\n"]
    if lead:
        lines.append("Largest leads:\n")
        lines += [item(i) for i in lead[:8]]
        lines.append("")
    if trail:
        lines.append("Largest gaps:\n")
        lines += [item(i) for i in trail[:8]]
        lines.append("")
    datasets = list(dict.fromkeys(i["dataset"] for i in items))
    whats = list(dict.fromkeys(i["what"] for i in items))
    grid = {(i["what"], i["dataset"]): i for i in items}
    lines.append("Every comparison: quarn's figure ÷ the best peer's (bold where quarn is at least 5% better; "
                 "for times, memory and size lower is better, so a ratio below 1 is a lead there).\n")
    rows = [[w] + [cell(grid[(w, d)]) if (w, d) in grid else "" for d in datasets] for w in whats]
    lines.append(_table(["figure"] + datasets, rows))
    lines.append("")
    return lines


def _versions_lines(results, meta):
    lines = [f"quarn commit: `{meta.get('commit', 'unknown')}`.\n"]
    seen = {}
    for r in results:
        v = r.get("versions")
        if v and r["engine"] not in seen:
            seen[r["engine"]] = v
    if seen:
        rows = [[name, v.get("library", "?"), v.get("numpy", "?"), v.get("python", "?"), f"`{v.get('interpreter', '?')}`"]
                for name, v in seen.items()]
        lines.append(_table(["engine", "library", "NumPy", "Python", "interpreter"], rows))
        lines.append("")
    return lines


def write(out, results, profile="full", cfg=None, total_seconds=None, plots=True, log=print, meta=None):
    meta = meta or {}
    by_ds = {}
    for r in results:
        by_ds.setdefault(r["dataset"], []).append(r)
    files = _plots(out, by_ds, log) if plots else {}
    summary = Summary()
    body = []
    for ds, res in by_ds.items():
        dset = res[0].get("dset", {})
        source = next((r.get("source") for r in res if r.get("source")), dset.get("kind", ""))
        body.append(f"## {ds}\n")
        text = (f"{dset.get('n', '?'):,} vectors of dimension {dset.get('dim', '?')}, metric "
                f"{dset.get('metric', '?')}, {dset.get('nq', '?'):,} held-out queries; {source}."
                + (f" {dset['note'][0].upper()}{dset['note'][1:]}." if dset.get("note") else ""))
        if dset.get("filters"):
            text += (" Every record carries the metadata {\"cat\": 0..99}; the build figures of quarn and "
                     "ChromaDB include it, the pure indexes store none.")
        body.append(text)
        body.append("")
        for r in res:
            if "error" in r:
                body.append(f"- {r['engine']}: **failed**: {r['error']}")
        body.append("")
        for name in files.get(ds, []):
            body.append(f"![{name}]({name})\n")
        body.append("### Build\n")
        body += _build_section(ds, res, summary)
        floats, quants = search_groups(res)
        body.append("### Search\n")
        body += _search_section(ds, "float", floats, summary)
        if len(quants) > 0 and "quarn-sq8" in quants:
            body.append("### Quantized search (SQ8 / int8)\n")
            body += _search_section(ds, "quantized", quants, summary)
        filt = _filtered_section(ds, res, summary)
        if filt:
            body.append("### Filtered search\n")
            body.append("Recall against the exact top 10 among the matching records; a search that returns "
                        "fewer than 10 hits loses recall for each missing one.\n")
            body += filt
        pers = _persist_section(ds, res, summary)
        if pers:
            body.append("### Persistence\n")
            body += pers
        for r in res:
            if r.get("diagnostics"):
                stats = ", ".join(f"{k} {_fmt(v) if isinstance(v, float) else v}" for k, v in r["diagnostics"].items())
                body.append(f"{r['engine']} statistics after the build: {stats}.\n")

    head = ["# quarn benchmark report", ""]
    head.append(f"Profile **{profile}**, written {time.strftime('%Y-%m-%d %H:%M:%S')} on {platform.node() or '?'}: "
                f"{os.cpu_count()} logical CPUs, Python {platform.python_version()}"
                + (f", total run time {total_seconds / 60:.1f} min." if total_seconds else "."))
    if cfg:
        head.append(f"Every library uses M 16, ef_construction 200 and {cfg.get('threads')} threads; "
                    f"k = 10; beam widths (ef) {cfg.get('efs')}; {cfg.get('nq_single')} queries as single calls "
                    f"and {cfg.get('nq_batch')} in one batch call per beam width; single adds: "
                    f"{cfg.get('n_single_add')} vectors into a fresh index.")
    head.append("Ratios in parentheses are the library's figure divided by the best peer's figure (the best "
                "of the other libraries, in the same group); ↑ marks figures where more is better, ↓ where "
                "less is better. QPS and timings vary with machine load, ratios much less.\n")
    notes = {}
    for r in results:
        if r.get("note") and r["engine"] not in notes:
            notes[r["engine"]] = r["note"]
    if notes:
        head.append("Libraries:\n")
        head += [f"- {k}: {v}" for k, v in notes.items()]
        head.append("")
    repeats = meta.get("repeats", 1)
    head.append(f"Every library ran {repeats} time{'s' if repeats != 1 else ''} on every dataset, the libraries "
                "taking turns; each figure is the median of the runs, and \"spread of QPS\" is half the range "
                "of the runs relative to the median (the largest over the beam widths).\n")
    head.append("## Versions\n")
    head += _versions_lines(results, meta)
    doubts = doubtful_figures(results)
    head.append("## Figures to doubt\n")
    if doubts:
        head.append("These figures look wrong (a batch call should not be slower than single calls) or varied "
                    "much between runs; the machine was probably busy. Rerun before drawing conclusions.\n")
        head += [f"- {d}" for d in doubts]
    else:
        head.append("None: no batch call was slower than single calls, and no figure varied by more than "
                    f"{SPREAD_LIMIT:.0%} between runs.")
    head.append("")
    head.append("## Summary\n")
    head.append("An exhaustive scan gives exact results, so its speed is one figure for every recall target: it "
                "is counted once, as \"exhaustive-scan search\".\n")
    head += _summary_lines(summary)
    for name in files.get("_all", []):
        head.append(f"![{name}]({name})\n")
    path = os.path.join(out, "report.md")
    with open(path, "w") as f:
        f.write("\n".join(head + body) + "\n")
    return path
