"""Progress reports of batch writes: one batch in the log whatever the reports, reports that rise
to the total on the calling thread, and what a raising callback does."""
import os
import pathlib
import struct
import subprocess
import sys
import textwrap
import threading
import types

import numpy as np
import pytest

import quarn
from quarn import _quarn
from conftest import scaled

N = scaled(3000, 600)


def log_frames(path):
    """(type, payload) of every frame in the database's log."""
    data = (pathlib.Path(path) / "wal.quarn").read_bytes()
    frames, at = [], 0
    while at < len(data):
        kind, length = struct.unpack_from("<BI", data, at)
        frames.append((kind, data[at + 5:at + 5 + length]))
        at += 5 + length + 4
    return frames


def batch(rng, n=N, dim=8, prefix="r"):
    return [f"{prefix}{i}" for i in range(n)], rng.normal(size=(n, dim)).astype(np.float32)


WRITES = [
    ("add_many", 0),
    ("upsert_many", N // 2),   # the first half are updates in place
]


@pytest.mark.parametrize("method, existing", WRITES)
def test_a_write_with_progress_is_one_batch_in_the_log_and_reports_rise_to_the_total_on_the_calling_thread(
        tmp_path, rng, method, existing):
    ids, vectors = batch(rng)
    metadatas = [{"i": i} for i in range(N)]
    calls, logs = [], []
    for name, progress in (("with", lambda done, total: calls.append((done, total, threading.get_ident()))),
                           ("without", None)):
        path = str(tmp_path / name)
        db = quarn.Database(path, dim=8)
        if existing:
            db.add_many(ids[:existing], vectors[:existing])
        before = len(log_frames(path)) if existing else 0
        getattr(db, method)(ids, vectors * 2, metadatas, progress=progress)
        frames = log_frames(path)[before:]
        assert frames[0] == (4, struct.pack("<I", N)) and [kind for kind, _ in frames[1:]] == [1] * N
        assert db.get_many(ids)[0].tolist() == (vectors * 2).tolist()
        logs.append((pathlib.Path(path) / "wal.quarn").read_bytes())
        db.close()
    assert logs[0] == logs[1]
    done = [d for d, _, _ in calls]
    assert done == sorted(set(done)) and done[-1] == N and 2 <= len(calls) <= 101
    assert {(total, thread) for _, total, thread in calls} == {(N, threading.get_ident())}


# A process killed while its batch is being linked: the log already holds the whole batch, so the
# reopened database has all of it, never a part.
KILLED = """
    import os, sys
    import numpy as np
    import quarn
    db = quarn.Database(sys.argv[1], dim=8)
    rng = np.random.default_rng(5)
    if sys.argv[2] == "upsert_many":
        db.add_many([f"r{i}" for i in range(100)], rng.normal(size=(100, 8)))
    n = int(sys.argv[3])
    getattr(db, sys.argv[2])([f"r{i}" for i in range(n)], rng.normal(size=(n, 8)), progress=lambda d, t: os._exit(7))
"""


@pytest.mark.parametrize("method", ["add_many", "upsert_many"])
def test_a_process_killed_at_its_first_report_leaves_the_whole_batch(path, method):
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(KILLED), path, method, str(N)],
                            capture_output=True, text=True, timeout=300)
    assert result.returncode == 7, result.stderr
    assert sorted(quarn.Database(path).ids()) == sorted(f"r{i}" for i in range(N))


class Stop(Exception):
    pass


def raise_stop(done, total):
    raise Stop(f"{done} of {total}")


def raise_interrupt(done, total):
    raise KeyboardInterrupt


@pytest.mark.parametrize("callback, error", [(raise_stop, Stop), (raise_interrupt, KeyboardInterrupt)])
def test_a_raising_callback_is_called_once_and_raises_after_the_whole_batch_is_written(path, rng, callback, error):
    ids, vectors = batch(rng)
    db = quarn.Database(path, dim=8)
    calls = []

    def report(done, total):
        calls.append(done)
        callback(done, total)

    with pytest.raises(error):
        db.add_many(ids, vectors, progress=report)
    assert len(calls) == 1 and len(db) == N
    assert [hit.id for hit in db.search(vectors[17], k=1)] == [ids[17]]
    db.close()
    assert len(quarn.Database(path)) == N


def test_a_callback_that_reads_the_database_waits_for_the_batch_instead_of_deadlocking(path, rng):
    ids, vectors = batch(rng)
    db = quarn.Database(path, dim=8)
    seen = []
    db.add_many(ids, vectors, progress=lambda done, total: seen.append((done, len(db), db.count())))
    assert seen[-1] == (N, N, N)


def test_progress_true_moves_a_tqdm_bar_to_the_total_and_closes_it(path, rng, monkeypatch):
    bars = []

    class FakeBar:
        def __init__(self, total, desc, unit):
            self.total, self.desc, self.n, self.closed = total, desc, 0, False
            bars.append(self)

        def update(self, rows):
            assert rows > 0
            self.n += rows

        def close(self):
            self.closed = True

    monkeypatch.setitem(sys.modules, "tqdm.auto", types.SimpleNamespace(tqdm=FakeBar))
    ids, vectors = batch(rng)
    db = quarn.Database(path, dim=8)
    db.add_many(ids, vectors, progress=True)
    db.upsert_many(ids[:10], vectors[:10], progress=True)
    assert [(b.desc, b.total, b.n, b.closed) for b in bars] == [("add_many", N, N, True), ("upsert_many", 10, 10, True)]


def test_the_binding_refuses_a_progress_that_is_not_callable_before_writing(path):
    db = quarn.Database(path, dim=2)
    with pytest.raises(TypeError, match=r"^argument 'progress': expected a callable or None, not 'int'$"):
        _quarn.Database.add_many(db, ["a"], [[1, 2]], progress=5)
    with pytest.raises(TypeError, match="positional"):
        _quarn.Database.add_many(db, ["a"], [[1, 2]], None, print)
    assert len(db) == 0 and not os.path.exists(os.path.join(path, "wal.quarn"))
