"""The speed report's arithmetic: QPS at a recall target, medians over rounds, and ratios that
face the right way, against the peers only; and the fsync shim that splits quarn's save time."""
import os
import sys

import pytest

sys.path.insert(0, os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))

from bench import speed_report  # noqa: E402

SWEEP = [{"ef": 10, "recall": 0.80, "qps": 1000.0}, {"ef": 20, "recall": 0.90, "qps": 500.0},
         {"ef": 40, "recall": 1.00, "qps": 100.0}]

QPS_AT = [
    # sweep, target, expected
    (SWEEP, 0.80, 1000.0),                                 # reached at the first beam
    (SWEEP, 0.90, 500.0),                                  # exactly on a beam
    (SWEEP, 0.95, (500.0 * 100.0) ** 0.5),                 # half way: geometric mean of the two
    (SWEEP[:2], 0.95, None),                               # never reached
    ([{"ef": 10, "recall": 0.9, "qps": 300.0}, {"ef": 20, "recall": 0.9, "qps": 200.0},
      {"ef": 30, "recall": 0.95, "qps": 100.0}], 0.92, (200.0 ** 0.6) * (100.0 ** 0.4)),
]


@pytest.mark.parametrize("sweep, target, expected", QPS_AT)
def test_qps_at_a_recall_interpolates_between_the_beams_on_either_side(sweep, target, expected):
    got = speed_report.qps_at(sweep, target)
    assert got == (pytest.approx(expected) if expected is not None else None)


def test_summarise_takes_median_and_spread_of_each_figure_and_of_the_qps_targets():
    rounds = [{"build_s": b, "single": [{"ef": 10, "recall": 0.95, "qps": q}], "batch": []}
              for b, q in ((3.0, 100.0), (1.0, 300.0), (2.0, 200.0))]
    got = speed_report.summarise(rounds)
    assert got["build_s"] == (2.0, 2.0)
    assert got["single_qps@0.95"] == (200.0, 200.0)
    assert got["batch_qps@0.9"] == (None, None)


def engine(**figures):
    return {k: (v, 0.0) for k, v in figures.items()}


def table(text, title):
    """{figure: [cells]} of the table under `## title`."""
    section = text.split(f"## {title}\n", 1)[1].split("\n## ", 1)[0]
    rows = [line.strip("|").split("|") for line in section.splitlines() if line.startswith("| ")]
    return {cells[0].strip(): [c.strip() for c in cells[1:]] for cells in rows[1:]}


def test_report_ratios_face_the_right_way_and_compare_only_with_the_peers(tmp_path):
    per_engine = {
        "quarn": engine(build_s=2.0, batch_qps=600.0, save_apart_from_sync_s=0.5),
        "quarn-sq8": engine(build_s=1.0, batch_qps=1200.0, save_apart_from_sync_s=0.25),
        "hnswlib": engine(build_s=4.0, batch_qps=300.0, save_s=1.0),
        "faiss": engine(build_s=3.0, batch_qps=400.0, save_s=2.0),
    }
    speed_report.write_report({"graph": {"s": per_engine}}, str(tmp_path), {"versions": "v", "commit": "c", "rounds": 3})
    text = (tmp_path / "speed.md").read_text()
    plain, sq8 = table(text, "s"), table(text, "s, quarn-sq8")
    # cells: mine, hnswlib, faiss, vs hnswlib, vs best peer
    assert plain["build_s"][3:] == ["2.00x", "1.50x"]         # lower is better: theirs / mine, best = faiss
    assert plain["batch_qps"][3:] == ["2.00x", "1.50x"]       # higher is better: mine / theirs, best = faiss
    assert plain["save_apart_from_sync_s"][1:] == ["1", "2", "2.00x", "2.00x"]   # peers' whole save
    assert sq8["build_s"][0] == "1" and sq8["build_s"][3:] == ["4.00x", "3.00x"]
    assert sq8["batch_qps"][3:] == ["4.00x", "3.00x"]         # quarn itself is not a peer


def test_every_peer_that_ran_gets_a_column_and_counts_for_the_best(tmp_path):
    per_engine = {
        "quarn": engine(build_s=2.0, batch_qps=600.0),
        "hnswlib": engine(build_s=4.0, batch_qps=300.0),
        "usearch": engine(build_s=1.0, batch_qps=1200.0),
    }
    speed_report.write_report({"graph": {"s": per_engine}}, str(tmp_path),
                              {"versions": "v", "commit": "c", "rounds": 1})
    text = (tmp_path / "speed.md").read_text()
    assert text.startswith("# quarn speed and memory against hnswlib and usearch\n")
    assert "| figure | quarn | hnswlib | usearch | vs hnswlib | vs best peer |" in text
    # cells: mine, hnswlib, usearch, vs hnswlib, vs best peer (usearch, the only one ahead of quarn)
    assert table(text, "s")["build_s"] == ["2", "4", "1", "2.00x", "0.50x"]
    assert table(text, "s")["batch_qps"][3:] == ["2.00x", "0.50x"]


def test_the_fsync_shim_adds_up_the_time_of_a_preloaded_process(tmp_path):
    import subprocess

    from bench import sync_shim

    lib = sync_shim.build_sync_shim(str(tmp_path))
    if lib is None:
        pytest.skip("no C compiler")
    code = ("import os, sys; sys.path.insert(0, sys.argv[1]); from bench.sync_shim import sync_seconds\n"
            "before = sync_seconds()\n"
            "fd = os.open(sys.argv[2], os.O_WRONLY | os.O_CREAT)\n"
            "for _ in range(20): os.write(fd, b'x' * 4096); os.fsync(fd); os.fdatasync(fd)\n"
            "print(before, sync_seconds())")
    root = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
    run = lambda env: subprocess.run([sys.executable, "-c", code, root, str(tmp_path / "f")], env=env,  # noqa: E731
                                     capture_output=True, text=True, check=True).stdout.split()
    before, after = run(dict(os.environ, LD_PRELOAD=lib))
    assert float(before) == 0.0 and float(after) > 0.0
    assert run({k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}) == ["None", "None"]
