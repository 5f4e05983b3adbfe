"""The worker's sweep over beam widths: each beam set before its searches, recall taken from the ids
the engine reports, an exhaustive scan measured once, filtered calls checked against their own truth."""
import os
import sys
from types import SimpleNamespace

import pytest

np = pytest.importorskip("numpy")

sys.path.insert(0, os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))

from bench.engines import Engine  # noqa: E402
from bench.worker import Measure  # noqa: E402

TRUTH = np.arange(60).reshape(6, 10)
OTHER = TRUTH[::-1].copy()  # a filtered truth that differs from the plain one


class Fake(Engine):
    """Finds the true ten at beams of 40 and more, the first five below; filtered, the filter's truth."""

    def __init__(self, scan=False):
        self.scan, self.ef = scan, None

    def uses_exhaustive_scan(self):
        return self.scan

    def set_ef(self, ef):
        self.ef = ef

    def _answer(self, q, truth):
        row = truth[int(q[0])]
        return list(row if self.ef >= 40 else row[:5])

    def search_one(self, q, k):
        return self._answer(q, TRUTH)

    def search_batch(self, qs, k):
        return [self._answer(q, TRUTH) for q in qs]

    def search_one_filtered(self, q, k, flt):
        return self._answer(q, flt["truth"])

    def search_batch_filtered(self, qs, k, flt):
        return [self._answer(q, flt["truth"]) for q in qs]

    def ids_one(self, raw):
        return raw


CFG = {"nq_single": 4, "nq_batch": 6, "nq_filter_single": 3, "nq_filter_batch": 5}
DS = SimpleNamespace(queries=np.arange(6, dtype=np.float32)[:, None], gt=TRUTH)

SWEEPS = [
    # scan, filtered, expected (ef, recall) rows
    (False, False, [(10, 0.5), (40, 1.0), (160, 1.0)]),
    (True, False, [(None, 1.0)]),             # a scan ignores the beam: measured once, at the last ef set
    (False, True, [(10, 0.5), (40, 1.0), (160, 1.0)]),
]


@pytest.mark.parametrize("scan, filtered, expected", SWEEPS)
def test_the_sweep_measures_each_beam_after_setting_it(scan, filtered, expected):
    m = Measure(Fake(scan), DS, CFG, log=lambda msg: None)
    efs = [10, 40, 160] if not scan else [160, 10]
    flt, gt = ({"truth": OTHER}, OTHER) if filtered else (None, None)
    rows = m.sweep("float", efs, flt=flt, gt=gt)
    assert [(r["ef"], r["single_recall"]) for r in rows] == expected
    assert [(r["ef"], r["batch_recall"]) for r in rows] == expected
    assert all(r["scan"] == scan and r["single_qps"] > 0 and r["batch_qps"] > 0 for r in rows)
