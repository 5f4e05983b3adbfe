"""The sharded run's cost model: the constants fitted to a measurement give that measurement back,
and the figures for more shards follow the formulas of the report."""
import os
import sys

import pytest

pytest.importorskip("numpy")
sys.path.insert(0, os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))

from bench import sharded_report  # noqa: E402

N = 65_536  # log2 N = 16


def measured(scan, t_shard):
    single = {"shards": 1, "single_s": 0.004, "batch_s": 0.001, "build_rate": 1000.0, "brute_force": [scan],
              "build_cpu_per_record": 0.002, "build_cores_busy": 1.0}
    two = {"shards": 2, "single_s": 0.006, "shard_local_s": t_shard, "shard_actor_s": t_shard + 0.001,
           "merge_s": 0.0002, "shard_local_batch_s": 0.0005, "shard_actor_batch_s": 0.0006,
           "build_cpu_per_record": 0.0025, "build_cores_busy": 1.25, "driver_s": 0.0001, "brute_force": [scan] * 2}
    return {"n": N, "configs": {"single": single, "2 shards": two}}


@pytest.mark.parametrize("scan, t_shard", [(True, 0.004 / 2), (False, 0.004 * 15 / 16)])
def test_the_fitted_model_predicts_the_measured_configuration_back(scan, t_shard):
    result = measured(scan, t_shard)
    constants = sharded_report.estimate({"s": result}, cores=2)
    c = constants["s/2 shards"]
    assert c["c_call_s"] == pytest.approx(0.001) and c["c_call_batch_s"] == pytest.approx(0.0001)
    rows = {r["shards"]: r for r in sharded_report.predict("s", result, constants, cores=2)}
    assert rows[2]["qps_here"] == pytest.approx(1 / 0.006)
    assert rows[1]["qps_here"] == pytest.approx(250.0) and rows[1]["build_spread"] == 1000.0


# shards, figure, expected (scan path, 2 cores a machine, the constants above)
FOUR_SHARDS = [
    ("qps_here", 1 / (0.001 * 2 + 0.001 + 0.0028 * 3 + 0.0001 * 4)),    # two shards take turns per core
    ("qps_spread", 1 / (0.001 + 0.001 + 0.0028 * 3 + 0.0001 * 4)),
    ("batch_here", 1 / (0.00025 * 4 + 0.0001 + 0.0004)),                # a batch takes a machine's cores
    ("batch_spread", 1 / (0.00025 + 0.0001 + 0.0004)),
    ("build_here", 1.25 / 0.0025),
    ("build_spread", 4 * 1.25 / 0.0025),
]


@pytest.mark.parametrize("figure, expected", FOUR_SHARDS)
def test_figures_for_four_shards_follow_the_formulas(figure, expected):
    result = measured(True, 0.002)
    constants = sharded_report.estimate({"s": result}, cores=2)
    rows = {r["shards"]: r for r in sharded_report.predict("s", result, constants, cores=2)}
    assert rows[4][figure] == pytest.approx(expected)
