"""The sharded collection on a local Ray cluster: stable routing, its manifest, all-or-nothing
batches, and no acknowledged write lost when an actor dies."""
import json
import os
import random
import signal
import subprocess
import sys
import textwrap
import threading
import time

import numpy as np
import pytest

ray = pytest.importorskip("ray", reason="Ray is not installed (pip install 'quarn[ray]')")

import quarn  # noqa: E402
from quarn import distributed  # noqa: E402
from quarn.distributed import (  # noqa: E402
    PartialWriteError, ShardedDatabase, ShardUnavailableError, shard_of)

DIM = 16
N = 600


@pytest.fixture(scope="module", autouse=True)
def cluster():
    ray.init(num_cpus=2, include_dashboard=False, log_to_driver=False)
    yield
    ray.shutdown()


def records(n=N, seed=7):
    rng = np.random.default_rng(seed)
    vectors = rng.normal(size=(n, DIM)).astype(np.float32)
    ids = [f"doc-{i}" for i in range(n)]
    colors = ["red", "green", "blue"]
    metadatas = [{"n": i, "color": colors[i % 3]} if i % 7 else None for i in range(n)]
    return ids, vectors, metadatas


def plain(hits):
    return [(h.id, h.distance, h.metadata) for h in hits]


def test_quarn_imports_without_ray_and_the_extra_names_itself():
    code = textwrap.dedent("""
        import sys
        sys.modules["ray"] = None  # as if Ray were not installed
        import quarn
        quarn.Database
        try:
            import quarn.distributed
        except ImportError as error:
            print(error)
    """)
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == "quarn.distributed needs Ray: pip install 'quarn[ray]'"


ROUTES = [  # (id, shards, shard): fixed forever, since changing them would strand stored records
    ("", 4, 0), ("a", 4, 0), ("doc-1", 4, 2), ("é", 4, 3), ("\U0001f600", 4, 1), ("doc-1", 7, 4),
    ("doc-1", 1, 0), ("doc-1", 999, 874),
]


@pytest.mark.parametrize("id_, shards, expected", ROUTES)
def test_routing_is_a_fixed_function_of_the_id_bytes(id_, shards, expected):
    assert shard_of(id_, shards) == expected


def test_reopen_keeps_routing_and_each_shard_holds_its_own_ids(tmp_path):
    root = str(tmp_path / "c")
    ids, vectors, metadatas = records(200, seed=3)
    db = ShardedDatabase(root, shards=4, dim=DIM, metric="cosine", m=8, ef_construction=40)
    db.add_many(ids[:150], vectors[:150], metadatas[:150])
    db.save()
    db.add_many(ids[150:], vectors[150:], metadatas[150:])  # only in the shards' logs
    db.close()

    manifest = json.loads((tmp_path / "c" / distributed.MANIFEST).read_text())
    assert {k: manifest[k] for k in ("shards", "hash", "dim", "metric", "m", "ef_construction", "quantize")} == \
        {"shards": 4, "hash": "blake2b-64-le-mod", "dim": DIM, "metric": "cosine", "m": 8, "ef_construction": 40,
         "quantize": False}
    for s in range(4):
        shard = quarn.Database(os.path.join(root, f"shard-{s:03d}"), dim=DIM)
        assert sorted(shard.ids()) == sorted(i for i in ids if shard_of(i, 4) == s)
        del shard

    again = ShardedDatabase(root, dim=3, metric="dot")  # the manifest's parameters win
    try:
        assert (again.shards, again.dim, again.metric, len(again)) == (4, DIM, "cosine", 200)
        assert all(again.get(i)[1] == metadatas[n] for n, i in enumerate(ids))
        assert again.search(vectors[180], k=1)[0].id == ids[180]
        assert again.delete_many(ids[:20] + ["missing"]) == 20
        assert (len(again), again.deleted_count, again.stats()["totals"]["num_deleted"]) == (180, 20, 20)
        again.compact()
        assert (len(again), again.deleted_count, again.total_slots) == (180, 0, 180)
        assert again.search(vectors[180], k=1)[0].id == ids[180]
    finally:
        again.close()


def test_parameters_given_as_numpy_integers_make_a_manifest_that_reopens(tmp_path):
    root = str(tmp_path / "c")
    db = ShardedDatabase(root, shards=2, dim=np.int64(DIM), m=np.uint16(8), ef_construction=np.int32(40))
    db.add("a", [1.0] * DIM)
    db.close()
    again = ShardedDatabase(root)
    try:
        assert (again.dim, again.manifest["m"], again.manifest["ef_construction"], len(again)) == (DIM, 8, 40, 1)
    finally:
        again.close()


def test_iteration_skips_records_deleted_after_it_started(tmp_path):
    ids, vectors, metadatas = records(60, seed=4)
    db = ShardedDatabase(str(tmp_path / "c"), shards=2, dim=DIM)
    try:
        db.add_many(ids, vectors, metadatas)
        order = db.ids()
        walk = db.records(batch_size=4)
        first = next(walk)
        gone = set(order[20:22] + order[-10:])  # in batches still to come on either shard
        assert db.delete_many(sorted(gone)) == len(gone)
        rest = list(walk)
        assert [first.id] + [r.id for r in rest] == [i for i in order if i not in gone]
        for record in rest:
            n = ids.index(record.id)
            assert record.metadata == metadatas[n]
            np.testing.assert_array_equal(record.vector, vectors[n])
    finally:
        db.close()


def test_a_second_open_of_the_same_root_is_refused_while_the_first_is_open(tmp_path):
    root = str(tmp_path / "c")
    first = ShardedDatabase(root, shards=2, dim=DIM)
    try:
        first.add("a", [1.0] * DIM)
        with pytest.raises(ValueError, match="already open for writing"):
            ShardedDatabase(root, restart_timeout=1)
        assert first.get("a")[0] == [1.0] * DIM
    finally:
        first.close()
    again = ShardedDatabase(root)  # the directories are free once the first is closed
    assert len(again) == 1
    again.close()


def _rewrite_manifest(root, **changes):
    path = os.path.join(root, distributed.MANIFEST)
    with open(path) as f:
        manifest = json.load(f)
    manifest.update(changes)
    with open(path, "w") as f:
        json.dump(manifest, f)


OPEN_ERRORS = [
    # (arguments, change to the manifest, error type, message part)
    (dict(shards=3), {}, ValueError, "holds 2 shards, not 3"),
    (dict(shards=8, dim=DIM), {}, ValueError, "holds 2 shards, not 8"),
    (dict(), {"hash": "crc32"}, ValueError, "routes ids by hash 'crc32'"),
    (dict(), {"format": "other"}, ValueError, "not a quarn shard manifest"),
]


@pytest.mark.parametrize("kwargs, change, error, message", OPEN_ERRORS)
def test_reopen_with_other_layout_is_refused(tmp_path, kwargs, change, error, message):
    root = str(tmp_path / "c")
    os.makedirs(root)
    manifest = {"format": "quarn-sharded/1", "shards": 2, "hash": "blake2b-64-le-mod", "dim": DIM,
                "metric": "cosine", "m": 16, "ef_construction": 200, "quantize": False}
    with open(os.path.join(root, distributed.MANIFEST), "w") as f:
        json.dump(manifest, f)
    _rewrite_manifest(root, **change)
    with pytest.raises(error, match=message):
        ShardedDatabase(root, **kwargs)


CREATE_ERRORS = [
    (dict(shards=4), "sharded database not found .* specify shards and dim"),
    (dict(dim=DIM), "specify shards"),
    (dict(shards=0, dim=DIM), "shards must be between 1 and 999"),
    (dict(shards=2, dim=DIM, metric="hamming"), "metric must be"),
    (dict(shards=2, dim=DIM, m=1), "m must be at least 2"),
    (dict(shards=2, dim=DIM, durability="fsync"), "durability must be 'flush' or 'sync'"),
]


def test_a_sync_mode_collection_keeps_its_writes_and_syncs_every_shard(tmp_path):
    ids, vectors, metadatas = records(60, seed=3)
    root = str(tmp_path / "c")
    db = ShardedDatabase(root, shards=3, dim=DIM, durability="sync")
    db.add_many(ids, vectors, metadatas)
    db.delete(ids[0])
    db.sync()
    db.close()
    db = ShardedDatabase(root)
    assert sorted(db.ids()) == sorted(ids[1:])
    db.close()


@pytest.mark.parametrize("kwargs, message", CREATE_ERRORS)
def test_bad_creation_leaves_no_manifest(tmp_path, kwargs, message):
    with pytest.raises(ValueError, match=message):
        ShardedDatabase(str(tmp_path / "c"), **kwargs)
    assert not os.path.exists(tmp_path / "c" / distributed.MANIFEST)


@pytest.fixture(scope="module")
def base(tmp_path_factory):
    """A collection whose state every refused batch below must leave exactly as it was."""
    ids, vectors, metadatas = records(120, seed=5)
    db = ShardedDatabase(str(tmp_path_factory.mktemp("base") / "c"), shards=4, dim=DIM)
    db.add_many(ids, vectors, metadatas)
    yield db, {i: db.get(i) for i in ids}
    db.close()


def _fresh(n, start=1000):
    rng = np.random.default_rng(start)
    return [f"new-{start + i}" for i in range(n)], rng.normal(size=(n, DIM)).astype(np.float32)


def _existing_on(shard, state):
    return next(i for i in sorted(state) if shard_of(i, 4) == shard)


def _batch(method, state):
    """Arguments of a batch touching every shard: new ids and existing ones (for upsert and delete)."""
    new_ids, new_vectors = _fresh(40)
    if method == "add_many":
        return (new_ids, new_vectors, [{"new": True}] * 40), new_ids
    old = [_existing_on(s, state) for s in range(4)]
    if method == "delete_many":
        return (old + new_ids[:4],), old
    ids = new_ids[:36] + old
    return (ids, new_vectors, [{"new": True}] * 40), ids


BAD_BATCHES = {
    "an id already on one shard": (
        lambda state: ("add_many", (["x-1", "x-2", _existing_on(2, state)], np.ones((3, DIM), np.float32))),
        ValueError, r"id 'doc-\d+' already exists, use upsert instead"),
    "one row of the wrong length": (
        lambda state: ("add_many", (["x-1", "x-2"], [[0.0] * DIM, [0.0] * (DIM - 1)])),
        ValueError, f"dimension mismatch: expected {DIM}, got {DIM - 1}"),
    "metadata with NaN": (
        lambda state: ("upsert_many", (["x-1", _existing_on(1, state)], np.ones((2, DIM), np.float32),
                                       [None, {"v": float("nan")}])),
        ValueError, "invalid metadata"),
    "metadatas of another length": (
        lambda state: ("add_many", (["x-1", "x-2"], np.ones((2, DIM), np.float32), [None])),
        ValueError, r"metadatas length \(1\) != ids length \(2\)"),
    "an id that is not a str": (
        lambda state: ("delete_many", (["x-1", 7],)), TypeError, "argument 'ids'"),
}


def _assert_unchanged(db, state):
    assert len(db) == len(state)
    assert sorted(db.ids()) == sorted(state)
    for id_, record in state.items():
        assert db.get(id_) == record


@pytest.mark.parametrize("case", BAD_BATCHES.values(), ids=BAD_BATCHES.keys())
def test_batch_refused_before_writing_changes_nothing(base, case):
    db, state = base
    make, error, message = case
    method, args = make(state)
    with pytest.raises(error, match=message):
        getattr(db, method)(*args)
    _assert_unchanged(db, state)


FAULTS = {
    # shard 2's part fails: refused before writing, or written and logged and then the process dies
    "refused": (ValueError("disk full"), ValueError,
                r"shard 2 refused its part: disk full; nothing was written; the parts on shards \[0, 1, 3\] were"),
    "crashed": (None, ShardUnavailableError,
                r"shard 2 \(.*\) failed while writing: \w+; nothing was written; the parts on shards \[0, 1, 2, 3\]"),
}


@pytest.mark.parametrize("fault", FAULTS.values(), ids=FAULTS.keys())
@pytest.mark.parametrize("method", ["add_many", "upsert_many", "delete_many"])
def test_batch_failing_on_one_shard_while_writing_is_rolled_back(base, method, fault):
    db, state = base
    args, _ = _batch(method, state)
    error, raised, message = fault
    db._inject_fault(2, method, error)
    with pytest.raises(raised, match=f"{method}: " + message):
        getattr(db, method)(*args)
    _assert_unchanged(db, state)


def test_batch_that_cannot_be_rolled_back_names_what_was_written(tmp_path):
    db = ShardedDatabase(str(tmp_path / "c"), shards=4, dim=DIM)
    try:
        ids, vectors = _fresh(40)
        db._inject_fault(2, "add_many", ValueError("disk full"))
        db._inject_fault(0, "restore", ValueError("disk full too"))
        with pytest.raises(PartialWriteError, match="could not be rolled back everywhere") as raised:
            db.add_many(ids, vectors)
        on = {s: sorted(i for i in ids if shard_of(i, 4) == s) for s in range(4)}
        assert sorted(raised.value.written) == on[0]
        assert sorted(raised.value.not_written) == sorted(on[1] + on[2] + on[3])
        assert raised.value.unknown == []
        assert sorted(db.ids()) == on[0]
    finally:
        db.close()


@pytest.mark.parametrize("kill", ["os.kill", "ray.kill"])
def test_killing_a_shard_mid_stream_loses_no_acknowledged_write(tmp_path, kill):
    db = ShardedDatabase(str(tmp_path / "c"), shards=4, dim=DIM)
    victim = db.actors[1]
    rng = np.random.default_rng(3)
    acknowledged, refused, errors, pids = {}, set(), [], []
    stop = threading.Event()

    def current_pid():
        # A restart that is still under way answers "unavailable"; ask again until it is back.
        while True:
            try:
                return ray.get(victim.ready.remote())[1]
            except (ray.exceptions.ActorUnavailableError, ray.exceptions.RayActorError):
                time.sleep(0.05)

    def killer():
        # Kills again until a kill has met a call in flight.
        for target in range(250, 10**6, 350):
            while len(acknowledged) < target and not stop.is_set():
                time.sleep(0.002)
            if stop.is_set() or errors:
                return
            pids.append(current_pid())
            time.sleep(random.uniform(0.0, 0.03))  # somewhere in the stream; mostly inside a batch
            if kill == "os.kill":
                os.kill(pids[-1], signal.SIGKILL)
            else:
                ray.kill(victim, no_restart=False)

    thread = threading.Thread(target=killer)
    thread.start()
    # Every write goes to the victim, so that a kill almost always meets one in flight.
    names = (f"r{i}" for i in range(10**6))
    try:
        batch = 0
        deadline = time.monotonic() + 40
        while (batch < 8 or not errors) and time.monotonic() < deadline:
            ids = [next(n for n in names if shard_of(n, 4) == 1) for _ in range(121)]
            vectors = rng.normal(size=(121, DIM)).astype(np.float32)
            for part in (slice(0, 120), slice(120, 121)):  # a batch, then a single write
                try:
                    if part.start == 0:
                        db.add_many(ids[part], vectors[part])
                    else:
                        db.add(ids[120], vectors[120])
                except ShardUnavailableError as error:
                    errors.append(str(error))
                    if "nothing was written" in str(error):
                        refused.update(ids[part])
                else:
                    acknowledged.update(zip(ids[part], vectors[part]))
            batch += 1
    finally:
        stop.set()
        thread.join()
    try:
        assert errors, "no kill met a call in flight"
        assert all("Ray restart" in e for e in errors)
        # A kill is carried out asynchronously: the killed process may still answer for a moment
        # after the call it met has failed. The shard must come back as a new process.
        deadline = time.monotonic() + 60
        while current_pid() in pids and time.monotonic() < deadline:
            time.sleep(0.05)
        assert current_pid() not in pids
        for id_, vector in acknowledged.items():
            stored, _ = db.get(id_)
            np.testing.assert_array_equal(np.asarray(stored, np.float32), vector)
        assert not any(i in db for i in refused)
    finally:
        db.close()


def test_replicas_serve_searches_after_each_save(tmp_path):
    ids, vectors, metadatas = records(200, seed=9)
    single = quarn.Database(str(tmp_path / "single"), dim=DIM)
    single.add_many(ids, vectors, metadatas)
    db = ShardedDatabase(str(tmp_path / "c"), shards=2, dim=DIM, replicas=2)
    try:
        assert [len(group) for group in db.replica_actors] == [2, 2]
        db.add_many(ids, vectors, metadatas)
        db.save()
        query = np.ascontiguousarray(vectors[:6] + 0.05)
        for _ in range(3):  # every replica takes a turn
            assert plain(db.search(query[0], k=7)) == plain(single.search(query[0], k=7))
            assert [plain(r) for r in db.search_many(query, k=5, where_filter={"color": "red"})] == \
                [plain(r) for r in single.search_many(query, k=5, where_filter={"color": "red"})]
            assert db.search_many_arrays(query, k=5).ids.tolist() == single.search_many_arrays(query, k=5).ids.tolist()
        db.delete_many(ids[:100])
        db.add("late", vectors[0])
        assert db.search(vectors[0], k=1)[0].id == ids[0]  # replicas serve the last save
        db.save()
        assert [h.id for h in db.search(vectors[0], k=20)][0] == "late"
        assert all(h.id in ids[100:] + ["late"] for h in db.search(vectors[0], k=20))
    finally:
        db.close()
