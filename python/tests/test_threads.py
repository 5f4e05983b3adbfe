"""Python threads sharing one database, the interpreter lock during long calls, and fork."""
import os
import subprocess
import sys
import textwrap
import threading

import numpy as np
import pytest

import quarn
from conftest import scaled

DIM = 16


def vector_of(name):
    """A deterministic vector per id, so the final state can be checked record by record."""
    seed = sum(ord(c) * 31**i for i, c in enumerate(name)) % 2**32
    return np.random.default_rng(seed).normal(size=DIM).astype(np.float32)


def run_threads(targets, timeout=300):
    errors = []

    def wrap(target):
        def run():
            try:
                target()
            except BaseException as e:  # reported by the test thread
                errors.append(e)
        return run

    threads = [threading.Thread(target=wrap(t), daemon=True) for t in targets]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout)
    assert not any(t.is_alive() for t in threads), "threads deadlocked"
    assert errors == [], errors


def test_concurrent_writes_searches_and_saves_end_consistent(path):
    db = quarn.Database(path, dim=DIM, metric="l2")
    rounds = scaled(300, 60)
    writers_done = threading.Event()
    expected = {}
    lock = threading.Lock()

    def writer(prefix):
        def run():
            for i in range(rounds):
                name = f"{prefix}{i}"
                db.add(name, vector_of(name), {"w": prefix, "i": i})
                with lock:
                    expected[name] = {"w": prefix, "i": i}
            names = [f"{prefix}batch{i}" for i in range(rounds)]
            db.add_many(names, np.stack([vector_of(n) for n in names]), [{"w": prefix}] * rounds)
            with lock:
                expected.update(dict.fromkeys(names, {"w": prefix}))
        return run

    def churner():
        for i in range(rounds):
            name = f"churn{i % 10}"
            db.upsert(name, vector_of(name), {"round": i})
            if i % 3 == 0:
                db.delete(name)
        with lock:
            for j in range(10):
                name = f"churn{j}"
                if name in db:
                    expected[name] = db.get(name)[1]

    def searcher():
        queries = np.stack([vector_of(f"q{i}") for i in range(8)])
        while not writers_done.is_set():
            for hits in db.search_many(queries, k=5) + [db.search(queries[0], k=5, where_filter={"w": "a"})]:
                distances = [h.distance for h in hits]
                assert distances == sorted(distances)
                assert all(h.id for h in hits)
            db.count({"w": {"$in": ["a", "b"]}})
            len(db)

    def saver():
        while not writers_done.is_set():
            db.save()
            db.stats()

    workers = [writer("a"), writer("b"), writer("c"), churner]
    others = [searcher, searcher, saver]

    def writers():
        run_threads(workers)
        writers_done.set()

    run_threads([writers] + others)

    assert len(db) == len(expected) == db.count()
    assert set(db.ids()) == set(expected)
    for name in list(expected)[:: max(1, len(expected) // 50)]:
        vector, metadata = db.get(name)
        np.testing.assert_array_equal(vector, vector_of(name))
        assert metadata == expected[name]
    db.save()
    again = quarn.Database(path, read_only=True)
    assert set(again.ids()) == set(expected)


def count_progress_during(call):
    """Iterations a pure-Python counter thread makes while call() runs in this thread."""
    counter = [0]
    stop = threading.Event()
    started = threading.Event()

    def spin():
        started.set()
        while not stop.is_set():
            counter[0] += 1

    thread = threading.Thread(target=spin, daemon=True)
    thread.start()
    started.wait()
    before = counter[0]
    call()
    during = counter[0] - before
    stop.set()
    thread.join()
    return during


def test_long_batch_calls_let_other_python_threads_run(path, rng):
    # Each call below runs for a good fraction of a second inside the engine; holding the
    # interpreter lock throughout would leave the counter at zero.
    n = scaled(4_000, 1_500)
    data = rng.normal(size=(n, 64)).astype(np.float32)
    db = quarn.Database(path, dim=64, m=8, ef_construction=64)
    ids = [str(i) for i in range(n)]
    assert count_progress_during(lambda: db.add_many(ids, data)) > 10_000
    queries = np.repeat(data[:100], scaled(20, 10), axis=0)
    assert count_progress_during(lambda: db.search_many(queries, k=10)) > 10_000
    db.delete_many(ids[::2])
    assert count_progress_during(db.compact) > 1_000


def test_fork_after_using_the_database_does_not_hang(tmp_path):
    script = textwrap.dedent("""
        import multiprocessing as mp, sys
        import numpy as np, quarn

        data = np.random.default_rng(0).normal(size=(2000, 8)).astype(np.float32)

        def child(parent_db, where, queue):
            own = quarn.Database(where, dim=8)
            own.add_many([str(i) for i in range(len(data))], data)
            mine = own.search_many(data[:50], k=3)
            inherited = parent_db.search_many(data[:50], k=3)
            queue.put((len(own), [r[0].id for r in mine][:3], [r[0].id for r in inherited][:3]))

        if __name__ == "__main__":
            db = quarn.Database(sys.argv[1] + "/parent", dim=8)
            db.add_many([str(i) for i in range(len(data))], data)
            db.search_many(data[:200], k=3)
            ctx = mp.get_context("fork")
            queue = ctx.Queue()
            proc = ctx.Process(target=child, args=(db, sys.argv[1] + "/child", queue))
            proc.start()
            print(queue.get(timeout=100))
            proc.join(100)
            print(proc.exitcode, len(db.search_many(data[:200], k=3)))
    """)
    done = subprocess.run([sys.executable, "-c", script, str(tmp_path)], capture_output=True, text=True,
                          timeout=240)
    assert done.returncode == 0, done.stderr
    assert done.stdout.split("\n")[:2] == ["(2000, ['0', '1', '2'], ['0', '1', '2'])", "0 200"]
