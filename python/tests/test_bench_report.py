"""The benchmark report's arithmetic: medians and spreads of repeats, doubtful figures flagged,
an exhaustive scan counted once, versions and commit named."""
import os
import sys

import pytest

sys.path.insert(0, os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))

from bench import report  # noqa: E402
from bench.aggregate import doubtful_figures, fold_results  # noqa: E402


def row(ef, single, batch, recall=0.97, scan=False, mode="float"):
    return {"mode": mode, "ef": ef, "scan": scan, "single_qps": single, "batch_qps": batch,
            "single_recall": recall, "batch_recall": recall}


def result(engine, rows, build=1000.0, **extra):
    return dict({"engine": engine, "dataset": "d", "search": rows,
                 "build": {"vectors_per_s": build, "seconds": 1.0, "peak_mem_bytes": 2**20, "retained_mem_bytes": 2**20},
                 "versions": {"library": f"{engine} 1.2.3", "numpy": "2.0", "python": "3.11", "interpreter": "/x"}},
                **extra)


FOLDS = [
    # run values of single_qps, expected median, expected spread
    ([100.0], 100.0, None),
    ([100.0, 120.0, 80.0], 100.0, 0.4),
    ([90.0, 110.0], 100.0, 0.2),
]


@pytest.mark.parametrize("values, median, spread", FOLDS)
def test_fold_takes_the_median_and_the_relative_range(values, median, spread):
    folded = fold_results([result("quarn", [row(10, v, 2 * v)]) for v in values])
    got = folded["search"][0]
    assert got["single_qps"] == pytest.approx(median) and got["ef"] == 10 and isinstance(got["ef"], int)
    assert got.get("single_qps_spread") == (pytest.approx(spread) if spread is not None else None)
    assert folded["repeats"] == len(values) and folded["versions"]["library"] == "quarn 1.2.3"


def test_fold_keeps_the_runs_that_succeeded():
    folded = fold_results([result("quarn", [row(10, 100.0, 200.0)]), {"engine": "quarn", "error": "boom"}])
    assert folded["repeats"] == 1 and folded["failed_repeats"] == ["boom"]
    assert fold_results([{"engine": "x", "error": "boom"}])["error"] == "boom"


DOUBTS = [
    (row(10, 1000.0, 500.0), "a batch call (500 QPS) is slower than single calls (1,000 QPS)"),
    (dict(row(10, 1000.0, 5000.0), batch_qps_spread=0.6), "batch qps varies by 60% between repeats"),
    (dict(row(10, 1000.0, 5000.0), single_qps_spread=0.1), None),
]


@pytest.mark.parametrize("search_row, flagged", DOUBTS)
def test_doubtful_figures_are_flagged(search_row, flagged):
    flags = doubtful_figures([result("faiss", [search_row])])
    assert flags == ([] if flagged is None else [f"d / faiss, float search, ef 10: {flagged}"])


def test_an_exhaustive_scan_is_labelled_and_counted_once(tmp_path):
    scan = [row(None, 3000.0, 9000.0, recall=1.0, scan=True),
            row(None, 1500.0, 4000.0, recall=1.0, scan=True, mode="quantized")]
    graph = [row(ef, 2000.0 / ef * 10, 8000.0 / ef * 10, recall=min(1.0, 0.85 + ef / 400)) for ef in (10, 40, 160)]
    results = [result("quarn", scan), result("hnswlib", graph), result("faiss", graph)]
    for r in results:
        r["dset"] = {"n": 100, "dim": 4, "metric": "l2", "nq": 10}
    path = report.write(str(tmp_path), results, plots=False, meta={"repeats": 3, "commit": "abc123"})
    text = open(path).read()
    assert "quarn commit: `abc123`" in text and "| hnswlib | hnswlib 1.2.3 |" in text
    assert "**quarn (exhaustive scan)**" in text
    assert "quarn-sq8 (exhaustive scan: no quantization used)" in text
    scan_items = [line for line in text.splitlines() if "exhaustive-scan search" in line and line.startswith("- ")]
    assert len(scan_items) == 2  # single and batch calls, once each
    assert "QPS at recall ≥ 0.95" not in "\n".join(line for line in text.splitlines() if "quarn" in line and
                                                   line.startswith("- "))
    assert "Every library ran 3 times" in text
