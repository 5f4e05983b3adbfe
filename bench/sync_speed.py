"""Single adds per second with durability="sync" against SQLite, "flush" mode against an older
build, and what the log sync at the start of a save costs.

    python bench/sync_speed.py [--adds 600] [--threads 8] [--dim 384] [--repeats 5]
                               [--old-python PY] [--flush-adds 4000] [--save-n 20000] [--save-log 5000]

Every figure comes from a fresh process per run, the kinds taken in turn in each repeat, and is
the median of the repeats:
- sync: quarn.Database(durability="sync") against the standard library's sqlite3 (WAL journal,
  synchronous=FULL, one transaction per insert of the same vector bytes as a blob), with one
  writer and with --threads writers (one connection per thread for SQLite), beside the disk's own
  rate of appending a record-sized piece and fdatasync-ing it;
- flush: single adds in the default mode, by this build and, with --old-python (the interpreter of
  a venv holding a build from before durability modes existed), by that one;
- save: save() of --save-n records with --save-log more in the log, by both builds, and the time of
  fdatasync-ing a freshly written copy of that log: what the log sync a save now starts with adds.
"""

from __future__ import annotations

import argparse
import json
import os
import shutil
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from bench.sync_shim import build_sync_shim, sync_seconds  # noqa: E402

SEED = 11


def vectors(count: int, dim: int) -> np.ndarray:
    return np.random.default_rng(SEED).normal(size=(count, dim)).astype(np.float32)


def run_writers(threads: int, adds: int, write_one) -> float:
    """Adds per second of `threads` threads splitting `adds` writes; write_one(thread, i) writes one."""
    per_thread = adds // threads
    barrier = threading.Barrier(threads + 1)
    errors: list[BaseException] = []

    def work(t: int) -> None:
        barrier.wait()
        try:
            for i in range(per_thread):
                write_one(t, i)
        except BaseException as error:  # reported by the caller
            errors.append(error)

    pool = [threading.Thread(target=work, args=(t,)) for t in range(threads)]
    for thread in pool:
        thread.start()
    barrier.wait()
    start = time.perf_counter()
    for thread in pool:
        thread.join()
    elapsed = time.perf_counter() - start
    if errors:
        raise errors[0]
    return per_thread * threads / elapsed


def worker_quarn(path: str, threads: int, adds: int, dim: int, sync: bool) -> dict:
    import quarn

    rows = vectors(adds, dim)
    kwargs = {"durability": "sync"} if sync else {}
    db = quarn.Database(path, dim=dim, **kwargs)
    per_thread = adds // threads
    rate = run_writers(threads, adds, lambda t, i: db.add(f"t{t}-{i}", rows[t * per_thread + i]))
    count = len(db)
    db.close()
    return {"rate": rate, "count": count}


def worker_sqlite(path: str, threads: int, adds: int, dim: int) -> dict:
    rows = vectors(adds, dim)
    setup = sqlite3.connect(os.path.join(path, "bench.db"))
    assert setup.execute("PRAGMA journal_mode=WAL").fetchone()[0] == "wal"
    setup.execute("CREATE TABLE items (id TEXT PRIMARY KEY, vector BLOB NOT NULL)")
    setup.commit()
    local = threading.local()

    def insert(t: int, i: int) -> None:
        if not hasattr(local, "db"):
            # Autocommit: each INSERT is a transaction of its own, committed (and synced) before it returns.
            local.db = sqlite3.connect(os.path.join(path, "bench.db"), timeout=60, isolation_level=None,
                                       check_same_thread=False)
            local.db.execute("PRAGMA synchronous=FULL")
        local.db.execute("INSERT INTO items VALUES (?, ?)", (f"t{t}-{i}", rows[t * (adds // threads) + i].tobytes()))

    rate = run_writers(threads, adds, insert)
    count = setup.execute("SELECT count(*) FROM items").fetchone()[0]
    setup.close()
    return {"rate": rate, "count": count}


def worker_disk(path: str, adds: int, dim: int) -> dict:
    """Appends of one record's bytes, each followed by fdatasync: the disk's own sync rate."""
    piece = vectors(1, dim).tobytes() + b"\0" * 32
    fd = os.open(os.path.join(path, "appends"), os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
    try:
        start = time.perf_counter()
        for _ in range(adds):
            os.write(fd, piece)
            os.fdatasync(fd)
        return {"rate": adds / (time.perf_counter() - start)}
    finally:
        os.close(fd)


def worker_save(path: str, n: int, log_rows: int, dim: int) -> dict:
    """save() of n records plus log_rows in the log, and fdatasync of a fresh copy of that log."""
    import quarn

    rows = vectors(n + log_rows, dim)
    db = quarn.Database(path, dim=dim, ef_construction=40)
    for first in range(0, n, 10_000):
        count = min(10_000, n - first)
        db.add_many([f"r{first + i}" for i in range(count)], rows[first:first + count])
    db.save()
    db.add_many([f"r{n + i}" for i in range(log_rows)], rows[n:])
    log = os.path.join(path, "wal.quarn")
    log_bytes = os.path.getsize(log)
    with open(log, "rb") as f:
        content = f.read()
    fd = os.open(os.path.join(os.path.dirname(path), "log-copy"), os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    try:
        os.write(fd, content)
        start = time.perf_counter()
        os.fdatasync(fd)
        log_sync = time.perf_counter() - start
    finally:
        os.close(fd)
    synced = sync_seconds()
    start = time.perf_counter()
    db.save()
    save = time.perf_counter() - start
    save_syncs = sync_seconds() - synced if synced is not None else None
    db.close()
    return {"save": save, "save_syncs": save_syncs, "log_sync": log_sync, "log_bytes": log_bytes}


def worker(args: argparse.Namespace) -> None:
    scratch = tempfile.mkdtemp(prefix="quarn-sync-bench-", dir=args.work)
    path = os.path.join(scratch, "db")
    try:
        if args.worker == "sqlite":
            os.makedirs(path)
            out = worker_sqlite(path, args.threads, args.adds, args.dim)
        elif args.worker == "disk":
            os.makedirs(path)
            out = worker_disk(path, args.adds, args.dim)
        elif args.worker == "save":
            out = worker_save(path, args.save_n, args.save_log, args.dim)
        else:
            out = worker_quarn(path, args.threads, args.adds, args.dim, sync=args.worker == "quarn-sync")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print(json.dumps(out))


def run(python: str, args: argparse.Namespace, kind: str, shim=None, **overrides) -> dict:
    values = {"adds": args.adds, "threads": 1, "dim": args.dim, "save_n": args.save_n, "save_log": args.save_log,
              **overrides}
    command = [python, os.path.abspath(__file__), "--worker", kind]
    for key, value in values.items():
        command += [f"--{key.replace('_', '-')}", str(value)]
    if args.work:
        command += ["--work", args.work]
    env = dict(os.environ, LD_PRELOAD=shim) if shim else None
    done = subprocess.run(command, check=True, capture_output=True, text=True, env=env)
    return json.loads(done.stdout.strip().splitlines()[-1])


def version(python: str) -> str:
    code = "import quarn, os; print(getattr(quarn, '__version__', '?'), os.path.dirname(quarn.__file__))"
    return subprocess.run([python, "-c", code], check=True, capture_output=True, text=True).stdout.strip()


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--adds", type=int, default=600, help="adds per sync-mode run (split over the threads)")
    parser.add_argument("--threads", type=int, default=8)
    parser.add_argument("--dim", type=int, default=384)
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--old-python", help="interpreter whose quarn is the build to compare flush mode with")
    parser.add_argument("--flush-adds", type=int, default=4000)
    parser.add_argument("--save-n", type=int, default=20_000)
    parser.add_argument("--save-log", type=int, default=5000)
    parser.add_argument("--skip", default="", help="comma-separated parts to leave out: sync,flush,save")
    parser.add_argument("--work", help="directory for the scratch databases (default: the system's temporary one)")
    parser.add_argument("--worker", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.worker:
        worker(args)
        return

    skip = set(filter(None, args.skip.split(",")))
    here = sys.executable
    print(f"sqlite {sqlite3.sqlite_version}; quarn {version(here)}"
          + (f"; old quarn {version(args.old_python)}" if args.old_python else ""))
    kinds: dict[str, tuple] = {}
    if "sync" not in skip:
        kinds.update({
            "disk append+fdatasync": (here, "disk", {}),
            "quarn sync, 1 writer": (here, "quarn-sync", {}),
            "sqlite FULL, 1 writer": (here, "sqlite", {}),
            f"quarn sync, {args.threads} writers": (here, "quarn-sync", {"threads": args.threads}),
            f"sqlite FULL, {args.threads} writers": (here, "sqlite", {"threads": args.threads}),
            # The same adds without syncs: the part of a sync-mode add that is not the disk's.
            "quarn flush, 1 writer": (here, "quarn-flush", {}),
        })
    if "flush" not in skip:
        kinds["quarn flush, this build"] = (here, "quarn-flush", {"adds": args.flush_adds})
        if args.old_python:
            kinds["quarn flush, old build"] = (args.old_python, "quarn-flush", {"adds": args.flush_adds})
    if "save" not in skip:
        # The shim adds up the time spent in fsync/fdatasync, to split each save's time.
        shim = build_sync_shim(tempfile.mkdtemp(prefix="quarn-sync-shim-"))
        kinds["save, this build"] = (here, "save", {"shim": shim})
        if args.old_python:
            kinds["save, old build"] = (args.old_python, "save", {"shim": shim})

    results: dict[str, list[dict]] = {name: [] for name in kinds}
    for _ in range(args.repeats):
        for name, (python, kind, overrides) in kinds.items():
            results[name].append(run(python, args, kind, **overrides))

    def median(name: str, key: str) -> float:
        return statistics.median(r[key] for r in results[name])

    for name in kinds:
        if "save" in name:
            continue
        rates = sorted(r["rate"] for r in results[name])
        print(f"{name:28} {median(name, 'rate'):9.0f} adds/s  (runs: {', '.join(f'{r:.0f}' for r in rates)})")
    if "sync" not in skip:
        for writers in (1, args.threads):
            suffix = "1 writer" if writers == 1 else f"{writers} writers"
            ratio = median(f"quarn sync, {suffix}", "rate") / median(f"sqlite FULL, {suffix}", "rate")
            print(f"quarn sync / sqlite FULL, {suffix}: {ratio:.2f} x")
    if "flush" not in skip and args.old_python:
        ratio = median("quarn flush, this build", "rate") / median("quarn flush, old build", "rate")
        print(f"flush mode, this build / old build: {ratio:.3f} x")
    if "sync" not in skip:
        # A single writer's sync-mode add is a flush-mode add followed by a log sync; were the sync
        # path to cost nothing beyond the disk, its rate would be this.
        serial = 1 / (1 / median("quarn flush, 1 writer", "rate") + 1 / median("disk append+fdatasync", "rate"))
        print(f"flush-mode add then the disk's sync, in series: {serial:.0f} adds/s "
              f"(quarn sync, 1 writer: {median('quarn sync, 1 writer', 'rate') / serial:.2f} x that)")
    for name in (n for n in kinds if "save" in n):
        saves = sorted(r["save"] for r in results[name])
        syncs = [r["save_syncs"] for r in results[name] if r["save_syncs"] is not None]
        split = f", of it in fsync/fdatasync {statistics.median(syncs) * 1e3:.1f} ms" if syncs else ""
        print(f"{name:28} {median(name, 'save'):.3f} s  (runs: {', '.join(f'{s:.3f}' for s in saves)}){split}; "
              f"log {results[name][0]['log_bytes'] / 1e6:.1f} MB, fdatasync of a fresh copy of it "
              f"{median(name, 'log_sync') * 1e3:.1f} ms")


if __name__ == "__main__":
    main()
