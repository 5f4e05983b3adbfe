"""One writer per directory, read-only readers, close(), fork safety, and the values refused at the door."""
import os
import re
import subprocess
import sys
import textwrap
import threading
import time

import numpy as np
import pytest

import quarn

from conftest import scaled
from test_threads import count_progress_during

LOCKED = "is already open for writing (by this or another process); open it with read_only=True"


def run_python(code, *args, timeout=120):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code), *args], capture_output=True, text=True,
                          timeout=timeout)


# ---- one writer per directory ----

def test_a_second_writer_in_this_process_is_refused_until_the_first_is_closed(path):
    first = quarn.Database(path, dim=2)
    for arguments in ({"dim": 2}, {}, {"dim": 5, "metric": "dot"}):
        with pytest.raises(ValueError) as err:
            quarn.Database(path, **arguments)
        assert str(err.value) == f"database '{path}' {LOCKED} to read beside that writer"
    first.add("a", [1, 0])
    first.close()
    second = quarn.Database(path)
    assert second.ids() == ["a"]
    del second  # collected: the lock goes with it
    assert quarn.Database(path, dim=2).ids() == ["a"]


def test_a_writer_in_another_process_is_refused_and_sees_everything_after_the_first_dies(path):
    first = quarn.Database(path, dim=2)
    first.add("a", [1, 0])
    other = run_python("""
        import sys, quarn
        try:
            quarn.Database(sys.argv[1], dim=2)
        except ValueError as e:
            print(e)
        db = quarn.Database(sys.argv[1], read_only=True)
        print(sorted(db.ids()))
    """, path)
    assert other.returncode == 0, other.stderr
    assert LOCKED in other.stdout and other.stdout.endswith("['a']\n")
    # A writer killed without any cleanup releases the directory with its process.
    killed = run_python("""
        import os, sys, quarn
        db = quarn.Database(sys.argv[1] + "2", dim=2)
        db.add("k", [0, 1])
        os._exit(0)
    """, path)
    assert killed.returncode == 0, killed.stderr
    assert quarn.Database(path + "2").ids() == ["k"]


def test_two_writer_processes_one_at_a_time_lose_nothing(path):
    # Each round a process writes and exits without saving; the next one holds the directory only
    # after the previous one has gone.
    script = """
        import sys, time, quarn
        where, tag = sys.argv[1], sys.argv[2]
        deadline = time.time() + 60
        while True:
            try:
                db = quarn.Database(where, dim=2)
                break
            except ValueError as e:
                if "already open" not in str(e) or time.time() > deadline:
                    raise
                time.sleep(0.01)
        for i in range(50):
            db.add(f"{tag}-{i}", [float(i), 1.0])
        if tag.endswith("0"):
            db.save()
    """
    procs = [subprocess.Popen([sys.executable, "-c", textwrap.dedent(script), path, f"p{i}"],
                              stderr=subprocess.PIPE, text=True) for i in range(4)]
    for proc in procs:
        assert proc.wait(timeout=120) == 0, proc.stderr.read()
    assert len(quarn.Database(path)) == 200


# ---- read-only ----

def test_a_reader_beside_the_writer_sees_the_last_snapshot_plus_the_log(path):
    writer = quarn.Database(path, dim=2, metric="l2")
    writer.add_many(["a", "b"], [[1, 0], [0, 1]], [{"n": 1}, None])
    writer.save()
    writer.add("c", [1, 1], {"n": 3})
    writer.delete("a")
    readers = [quarn.Database(path, read_only=True) for _ in range(2)]
    for reader in readers:
        assert (reader.read_only, reader.metric, sorted(reader.ids())) == (True, "euclidean", ["b", "c"])
        assert reader.get("c") == ([1.0, 1.0], {"n": 3})
    # Readers leave the files as they were: the writer keeps logging, and nothing was lost.
    writer.add("d", [2, 2])
    writer.close()
    assert sorted(quarn.Database(path).ids()) == ["b", "c", "d"]


WRITES = [
    ("add", lambda db: db.add("x", [1, 2])),
    ("upsert", lambda db: db.upsert("a", [1, 2])),
    ("update", lambda db: db.update("a", metadata={"k": 1})),
    ("delete", lambda db: db.delete("a")),
    ("add_many", lambda db: db.add_many(["x"], [[1, 2]])),
    ("upsert_many", lambda db: db.upsert_many(["a"], [[1, 2]])),
    ("delete_many", lambda db: db.delete_many(["a"])),
    ("save", lambda db: db.save()),
    ("compact", lambda db: db.compact()),
]


@pytest.mark.parametrize("name,write", WRITES, ids=[w[0] for w in WRITES])
def test_every_write_of_a_read_only_database_raises(path, name, write):
    with quarn.Database(path, dim=2) as db:
        db.add("a", [0, 1])
    before = sorted(os.listdir(path))
    reader = quarn.Database(path, read_only=True)
    with pytest.raises(ValueError, match=rf"^database '{re.escape(path)}' is open read-only; it cannot be written$"):
        write(reader)
    assert reader.get("a") == ([0.0, 1.0], None)
    assert sorted(os.listdir(path)) == before
    with reader:  # leaving the block closes it, saves nothing
        pass
    assert reader.closed


def test_read_only_finds_no_database_where_there_is_none(tmp_path):
    for where in (tmp_path / "missing", tmp_path):
        for arguments in ({}, {"dim": 3}):
            with pytest.raises(ValueError) as err:
                quarn.Database(str(where), read_only=True, **arguments)
            assert str(err.value) == f"database not found at '{where}'"
    assert os.listdir(tmp_path) == []
    with open(tmp_path / "graph.quarn", "wb") as f:
        f.write(b"GWSH")
    with pytest.raises(ValueError, match="^corrupt data: incomplete snapshot in "):
        quarn.Database(str(tmp_path), read_only=True)


# ---- close ----

READS_AFTER_CLOSE = [
    ("len", len),
    ("in", lambda db: "a" in db),
    ("get", lambda db: db.get("a")),
    ("ids", lambda db: db.ids()),
    ("count", lambda db: db.count()),
    ("search", lambda db: db.search([1, 0])),
    ("stats", lambda db: db.stats()),
    ("dim", lambda db: db.dim),
    ("metric", lambda db: db.metric),
    ("enter", lambda db: db.__enter__()),
] + WRITES


@pytest.mark.parametrize("name,call", READS_AFTER_CLOSE, ids=[c[0] for c in READS_AFTER_CLOSE])
def test_close_is_idempotent_and_every_later_use_raises(path, name, call):
    db = quarn.Database(path, dim=2)
    db.add("a", [1, 0])
    assert db.close() is None and db.close() is None and db.closed
    with pytest.raises(ValueError, match="^database is closed$"):
        call(db)
    assert db.__exit__() is False  # nothing left to save
    assert quarn.Database(path).ids() == ["a"]  # logged, not saved, not lost


def test_close_while_another_thread_writes_lets_that_call_finish(path, rng):
    db = quarn.Database(path, dim=16)
    data = rng.normal(size=(scaled(3000, 1000), 16)).astype(np.float32)
    errors = []

    def write():
        try:
            db.add_many([str(i) for i in range(len(data))], data)
        except ValueError as e:
            errors.append(str(e))

    thread = threading.Thread(target=write)
    thread.start()
    time.sleep(0.01)
    db.close()
    thread.join()
    # Either the batch got in before the close or it was refused; it never half-happened.
    assert len(quarn.Database(path)) in (0, len(data))
    assert errors in ([], ["database is closed"])


# ---- fork ----

def test_fork_while_another_thread_writes_and_saves_never_hangs_the_child(tmp_path):
    script = """
        import os, sys, threading, warnings
        import numpy as np, quarn
        warnings.simplefilter("ignore", DeprecationWarning)  # fork() with threads running

        db = quarn.Database(sys.argv[1], dim=8)
        data = np.random.default_rng(0).normal(size=(20000, 8)).astype(np.float32)
        stop = threading.Event()

        def writer():
            i = 0
            while not stop.is_set():
                db.add_many([f"{i}-{j}" for j in range(200)], data[(i * 200) % 19800:][:200])
                if i % 5 == 0:
                    db.save()
                i += 1

        thread = threading.Thread(target=writer)
        thread.start()
        children = []
        for _ in range(12):
            pid = os.fork()
            if pid == 0:
                # The child's first calls would hang on a lock held by the parent's writer thread.
                n = len(db)
                db.search(data[0], k=3)
                other = quarn.Database(sys.argv[1] + f"-child-{os.getpid()}", dim=8)
                other.add_many(["x", "y"], data[:2])
                os._exit(0 if n == len(db.ids()) and len(other) == 2 else 3)
            children.append(pid)
        codes = [os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]) for pid in children]
        stop.set()
        thread.join()
        print(codes)
    """
    done = run_python(script, str(tmp_path / "db"), timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == str([0] * 12)


def test_a_forked_child_reads_the_parents_database_but_never_writes_it(tmp_path):
    script = """
        import os, sys, quarn
        db = quarn.Database(sys.argv[1], dim=2)
        db.add("a", [1, 0])
        read, write = os.pipe()
        pid = os.fork()
        if pid == 0:
            try:
                db.add("b", [0, 1])
                code = 1
            except ValueError as e:
                code = 0 if "read-only" in str(e) and db.ids() == ["a"] else 2
            os.read(read, 1)  # wait until the parent has let go of the directory
            try:
                quarn.Database(sys.argv[1]).add("c", [1, 1])  # the child may become the writer now
            except ValueError:
                code = 3
            os._exit(code)
        db.close()
        os.write(write, b"x")
        print(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]), sorted(quarn.Database(sys.argv[1]).ids()))
    """
    done = run_python(script, str(tmp_path / "db"))
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == "0 ['a', 'c']"


BOUNDS = [
    ({"m": 1}, "m must be at least 2"),
    ({"m": 4097}, "m must be at most 4096"),
    ({"ef_construction": 0}, "ef_construction must be between 1 and 65536"),
    ({"ef_construction": 2**32 - 1}, "ef_construction must be between 1 and 65536"),
]


@pytest.mark.parametrize("arguments,message", BOUNDS, ids=[m for _, m in BOUNDS])
def test_construction_parameters_beyond_their_bounds_are_refused_at_creation(path, arguments, message):
    with pytest.raises(ValueError, match=f"^{message}$"):
        quarn.Database(path, dim=2, **arguments)
    assert not os.path.exists(path)
    edge = {name: (2 if value < 2 else (4096 if name == "m" else 65536)) for name, value in arguments.items()}
    db = quarn.Database(path, dim=2, **edge)
    db.add_many(["a", "b", "c"], [[1, 0], [0, 1], [1, 1]])
    assert (len(db), sorted(db.ids())) == (3, ["a", "b", "c"])


# ---- values refused at the door, and read-only arrays accepted ----

NON_FINITE = [
    ("nan", [1.0, float("nan")], "component 1 is NaN"),
    ("inf", [float("inf"), 1.0], "component 0 is inf"),
    ("-inf", [0.0, float("-inf")], "component 1 is -inf"),
    ("numpy nan", np.array([np.nan, 1], dtype=np.float32), "component 0 is NaN"),
    ("float64 overflowing float32", [1e39, 0.0], "component 0 is inf"),
]


@pytest.mark.parametrize("name,vector,detail", NON_FINITE, ids=[c[0] for c in NON_FINITE])
def test_non_finite_components_raise_value_error_everywhere(path, name, vector, detail):
    db = quarn.Database(path, dim=2)
    db.add("a", [1, 0])
    message = rf"^(vectors\[\d\]: )?vector components must be finite: {detail}$"
    calls = [
        lambda: db.add("b", vector),
        lambda: db.upsert("a", vector),
        lambda: db.update("a", vector=vector),
        lambda: db.add_many(["b", "c"], [[0, 1], vector]),
        lambda: db.upsert_many(["a"], [vector]),
        lambda: db.search(vector),
        lambda: db.search_many([[0, 1], vector]),
    ]
    for call in calls:
        with pytest.raises(ValueError, match=message):
            call()
    assert db.ids() == ["a"] and db.get("a")[0] == [1.0, 0.0]


COMPLEX = [
    ("complex numbers", [1 + 2j, 0, 0]),
    ("complex128 array", np.array([1 + 2j, 0, 0], dtype=np.complex128)),
    ("complex64 array", np.array([1, 0, 0], dtype=np.complex64)),
    ("numpy complex64 scalar", [np.complex64(1), 0, 0]),
]


@pytest.mark.parametrize("name,vector", COMPLEX, ids=[c[0] for c in COMPLEX])
def test_complex_values_raise_value_error_instead_of_losing_their_imaginary_part(db, name, vector):
    for call in (lambda: db.add("a", vector), lambda: db.search(vector),
                 lambda: db.add_many(["a"], [vector]), lambda: db.add_many(["a"], np.array([vector]))):
        with pytest.raises(ValueError, match="^vector components must be real numbers, not complex$"):
            call()
    assert len(db) == 0


def test_read_only_numpy_arrays_are_accepted_everywhere(path, rng):
    data = rng.normal(size=(20, 4)).astype(np.float32)
    data.setflags(write=False)
    one = data[0].copy()
    one.setflags(write=False)
    db = quarn.Database(path, dim=4)
    db.add("one", one)
    db.upsert("one", one)
    db.update("one", vector=one)
    db.add_many([str(i) for i in range(20)], data)
    db.upsert_many([str(i) for i in range(20)], data)
    assert db.search(one, k=1)[0].distance == pytest.approx(0, abs=1e-5)
    assert len(db.search_many(data, k=2)) == 20
    assert len(db) == 21


# ---- the interpreter lock ----

def test_reads_waiting_behind_a_long_add_many_let_other_threads_run(path, rng):
    n = scaled(6000, 2000)
    data = rng.normal(size=(n, 64)).astype(np.float32)
    db = quarn.Database(path, dim=64, m=8, ef_construction=64)
    db.add("first", data[0])
    started = threading.Event()

    def writer():
        started.set()
        db.add_many([str(i) for i in range(n)], data)

    thread = threading.Thread(target=writer)
    thread.start()
    started.wait()
    time.sleep(0.05)  # let the batch take the engine's locks
    progress = count_progress_during(lambda: (db.get("first"), "first" in db, db.ids(), db.count(), len(db)))
    thread.join()
    assert progress > 1000
    assert len(db) == n + 1
