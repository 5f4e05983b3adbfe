"""The sharded collection's recover=True, recovery_report and verify_files: each shard's own,
with its shard named."""
import os

import numpy as np
import pytest

ray = pytest.importorskip("ray", reason="Ray is not installed (pip install 'quarn[ray]')")

import quarn  # noqa: E402
from quarn.distributed import ShardedDatabase  # noqa: E402

DIM = 8


@pytest.fixture(scope="module", autouse=True)
def cluster():
    ray.init(num_cpus=2, include_dashboard=False, log_to_driver=False)
    yield
    ray.shutdown()


def test_damaged_shard_log_is_refused_then_recovered_and_reported_with_its_shard(tmp_path):
    rng = np.random.default_rng(2)
    root = str(tmp_path / "c")
    ids = [f"doc-{i}" for i in range(40)]
    with ShardedDatabase(root, shards=2, dim=DIM) as db:
        db.add_many(ids, rng.random((40, DIM), dtype=np.float32))
        report = db.verify_files()
        assert (report["checked"], report["problems"], report["files"]) == (True, [], 4)
    db = ShardedDatabase(root)
    for i in range(3):
        db.add(f"late-{i}", rng.random(DIM, dtype=np.float32))
    late_shard = [db.shard_of(f"late-{i}") for i in range(3)]
    db.close()
    # Damage the first of two or more log records of one shard.
    shard = max(set(late_shard), key=late_shard.count)
    assert late_shard.count(shard) >= 2
    wal = os.path.join(root, f"shard-{shard:03d}", "wal.quarn")
    data = bytearray(open(wal, "rb").read())
    data[12] ^= 0x10
    open(wal, "wb").write(bytes(data))
    with pytest.raises(Exception, match="fails its checksum"):
        ShardedDatabase(root, restart_timeout=5, max_restarts=0)
    db = ShardedDatabase(root, recover=True)
    try:
        (note,) = db.recovery_report
        assert (note["shard"], note["file"], note["kind"], note["offset"]) == (shard, "wal.quarn", "damage", 0)
        assert note["records"] == late_shard.count(shard) - 1
        assert sorted(db.ids()) == sorted(ids + [f"late-{i}" for i in range(3) if late_shard[i] != shard])
    finally:
        db.close()
