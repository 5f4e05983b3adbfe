"""ShardedDatabase.backup: every shard copied at a moment of its own history while writes go on,
the copy opening as a collection, and the destinations refused as a single database refuses them."""
import os
import pathlib
import threading
import time

import numpy as np
import pytest

ray = pytest.importorskip("ray", reason="Ray is not installed (pip install 'quarn[ray]')")

from quarn.distributed import ShardedDatabase, shard_of  # noqa: E402
from test_backup import _a_file, _full_directory, _not_writable  # noqa: E402
from test_distributed import cluster  # noqa: E402, F401 - the module's local Ray cluster

DIM = 8
SHARDS = 3


@pytest.fixture(scope="module")
def source(tmp_path_factory):
    """One collection for every test here (a backup leaves its source as it was): a saved part and a
    logged part."""
    rng = np.random.default_rng(5)
    root = tmp_path_factory.mktemp("sharded") / "src"
    db = ShardedDatabase(str(root), shards=SHARDS, dim=DIM, metric="l2", m=8, ef_construction=40)
    ids = [f"r{i}" for i in range(300)]
    vectors = rng.normal(size=(300, DIM)).astype(np.float32)
    db.add_many(ids[:200], vectors[:200], [{"i": i} for i in range(200)])
    db.save()
    db.add_many(ids[200:], vectors[200:])  # only in the shards' logs
    db.delete("r3")
    yield db
    db.close()


def contents(db):
    ids = sorted(db.ids())
    vectors, metadatas = db.get_many(ids)
    return {i: (tuple(v), m) for i, v, m in zip(ids, vectors.tolist(), metadatas)}


def test_backup_under_writes_holds_each_shard_at_one_moment_and_opens_as_a_collection(tmp_path, source):
    before = contents(source)
    written = []
    stop = threading.Event()

    def write():
        i = 0
        while not stop.is_set() and i < 2000:
            source.add(f"w{i}", np.full(DIM, i, dtype=np.float32))
            written.append(f"w{i}")
            i += 1

    writer = threading.Thread(target=write)
    writer.start()
    try:
        while len(written) < 5:
            time.sleep(0.001)
        source.backup(tmp_path / "copy")
    finally:
        stop.set()
        writer.join()

    assert sorted(os.listdir(tmp_path / "copy")) == ["quarn-shards.json"] + [f"shard-{s:03d}" for s in range(SHARDS)]
    assert not [n for n in os.listdir(tmp_path) if n.startswith(".copy")]
    copy = ShardedDatabase(str(tmp_path / "copy"))
    try:
        assert copy.manifest == source.manifest
        got = contents(copy)
    finally:
        copy.close()
    assert {i: r for i, r in got.items() if not i.startswith("w")} == before
    # Each shard's copy is one moment of it: the concurrent adds it holds are the first of its own.
    for shard in range(SHARDS):
        order = [i for i in written if shard_of(i, SHARDS) == shard]
        held = [i for i in order if i in got]
        assert held == order[:len(held)], shard
    assert all(got[i] == (tuple([float(i[1:])] * DIM), None) for i in got if i.startswith("w"))


@pytest.mark.parametrize("make, message", [
    (_full_directory, "exists and is not empty"),
    (_a_file, "exists and is not a directory"),
    (lambda src, tmp: src, "is inside the database directory"),
    (lambda src, tmp: src / "shard-001" / "nested", "is inside the database directory"),
    (lambda src, tmp: tmp / "missing" / "copy", "is not a directory"),
    (lambda src, tmp: _not_writable(tmp), "is not writable"),
], ids=["not empty", "a file", "the root", "inside a shard", "parent missing", "not writable"])
def test_bad_destinations_are_refused_as_for_one_database_and_leave_nothing(tmp_path, source, make, message):
    dest = make(pathlib.Path(source.root), tmp_path)
    around = sorted(os.listdir(dest.parent)) if dest.parent.is_dir() else None
    with pytest.raises(ValueError) as err:
        source.backup(dest)
    assert f"'{dest}'" in str(err.value) and message in str(err.value), str(err.value)
    if around is not None:
        assert sorted(os.listdir(dest.parent)) == around


def test_a_shard_failing_its_backup_leaves_no_destination_and_no_hidden_copy(tmp_path, source):
    source._inject_fault(1, "backup", OSError(28, "No space left on device"))
    with pytest.raises(OSError, match="No space left"):
        source.backup(str(tmp_path / "copy"))
    assert os.listdir(tmp_path) == []
    source.backup(str(tmp_path / "copy"))  # nothing stays in the way of the next attempt
    assert os.listdir(tmp_path) == ["copy"]
