"""The speed and search-quality drivers run every installed engine through the shared adapters
and turn what they return into the right recall: a tiny set, where every engine finds nearly all."""
import argparse
import json
import os
import sys

import pytest

np = pytest.importorskip("numpy")
pytest.importorskip("quarn")

sys.path.insert(0, os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))

from bench import search_quality, speed  # noqa: E402
from bench.peers import ENGINES  # noqa: E402

INSTALLED = [n for n in ("quarn", "quarn-sq8", "hnswlib", "faiss", "usearch") if ENGINES[n].available()]


@pytest.fixture(scope="module")
def speed_cache(tmp_path_factory):
    cache = tmp_path_factory.mktemp("cache")
    assert "clustered" in speed.prepare(str(cache), quick=True, size=800)
    return str(cache)


@pytest.mark.parametrize("name", INSTALLED)
def test_a_speed_job_sweeps_saves_and_reopens_every_engine(name, speed_cache, tmp_path):
    args = argparse.Namespace(cache=speed_cache, set="clustered", engine=name, work=str(tmp_path))
    out = speed.job_graph(args)
    for mode in ("single", "batch"):
        assert out[mode][-1]["recall"] >= 0.95, (mode, out[mode])
        assert [r["ef"] for r in out[mode]] == speed.EFS[:len(out[mode])]
    assert out["build_vps"] > 0 and out["reopen_s"] > 0 and out["first_search_s"] > 0
    assert "save_apart_from_sync_s" not in out  # only with the fsync shim preloaded


def test_search_quality_reports_every_installed_engine_with_exact_answers_from_quarn(tmp_path):
    assert search_quality.main(["--quick", "--size", "1500", "--sets", "overlapping,filtered",
                                "--engines", ",".join(INSTALLED), "--out", str(tmp_path)]) == 0
    results = json.loads((tmp_path / "search_quality.json").read_text())
    plain = {r["engine"]: r for r in results if r["set"] == "overlapping"}
    filtered = {r["engine"]: r for r in results if r["set"] == "filtered"}
    assert sorted(plain) == sorted(INSTALLED)
    assert sorted(filtered) == sorted(n for n in INSTALLED if ENGINES[n].supports_filter
                                      and not ENGINES[n].quantized_of)
    for name, r in plain.items():
        assert max(row["recall"] for row in r["rows"]) >= 0.9, name
    # 1,500 records are scanned: quarn's answers are exact, with every filter.
    assert all(row["recall"] == 1.0 for row in filtered["quarn"]["rows"])
    assert all(row["hits"] == row["wanted"] for row in filtered["quarn"]["rows"])
    for name, r in filtered.items():
        assert len(r["rows"]) == 12 and all(row["hits"] <= row["wanted"] + 1e-9 for row in r["rows"]), name
    text = (tmp_path / "search_quality.md").read_text()
    assert all(f"overlapping / {name}:" in text for name in INSTALLED)
