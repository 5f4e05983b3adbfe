"""Time of db.backup() against `cp -r` of the same directory, and how long a writer waits meanwhile.

    python bench/backup_speed.py [--n 100000] [--dim 384] [--repeats 3] [--work DIR]

Builds a database of n random vectors (saved, plus 1,000 records in the log), then times, each
the median of the repeats with the files in the page cache: backup() (which syncs what it
writes), `cp -r`, and `cp -r` followed by an fsync of every file it wrote. Then backs up once
more while a thread keeps adding records and reports the median and longest of its single adds,
beside those of its adds while `cp -r` + fsync copies the directory and without either running.
"""

from __future__ import annotations

import argparse
import os
import shutil
import statistics
import subprocess
import tempfile
import threading
import time

import numpy as np

import quarn


def directory_bytes(path: str) -> int:
    return sum(os.path.getsize(os.path.join(path, name)) for name in os.listdir(path))


def fsync_tree(path: str) -> None:
    for name in os.listdir(path):
        fd = os.open(os.path.join(path, name), os.O_RDONLY)
        try:
            os.fsync(fd)
        finally:
            os.close(fd)
    fd = os.open(path, os.O_RDONLY)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)


def timed(action, dest: str) -> float:
    shutil.rmtree(dest, ignore_errors=True)
    start = time.perf_counter()
    action(dest)
    elapsed = time.perf_counter() - start
    shutil.rmtree(dest, ignore_errors=True)
    return elapsed


def add_times(db: quarn.Database, rng: np.random.Generator, during, tag: str) -> list[float]:
    """The times of the single adds a thread makes while `during()` runs."""
    stop = threading.Event()
    started = threading.Event()
    times: list[float] = []
    vectors = rng.normal(size=(1000, db.dim)).astype(np.float32)

    def add() -> None:
        started.set()
        i = 0
        while not stop.is_set():
            start = time.perf_counter()
            db.add(f"{tag}-{i}", vectors[i % len(vectors)])
            times.append(time.perf_counter() - start)
            i += 1

    thread = threading.Thread(target=add)
    thread.start()
    started.wait()
    time.sleep(0.05)
    try:
        during()
    finally:
        stop.set()
        thread.join()
    return times


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--n", type=int, default=100_000)
    parser.add_argument("--dim", type=int, default=384)
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--work", help="directory for the database and its copies (default: a temporary one)")
    args = parser.parse_args()

    work = args.work or tempfile.mkdtemp(prefix="quarn-backup-bench-")
    src, dest = os.path.join(work, "src"), os.path.join(work, "copy")
    shutil.rmtree(src, ignore_errors=True)
    rng = np.random.default_rng(7)
    # ef_construction only changes the build time here, not the size of the files copied.
    db = quarn.Database(src, dim=args.dim, metric="cosine", ef_construction=40)
    start = time.perf_counter()
    for first in range(0, args.n, 10_000):
        rows = min(10_000, args.n - first)
        db.add_many([f"r{first + i}" for i in range(rows)], rng.normal(size=(rows, args.dim)).astype(np.float32))
    db.save()
    db.add_many([f"log{i}" for i in range(1000)], rng.normal(size=(1000, args.dim)).astype(np.float32))
    print(f"built {args.n:,} x {args.dim} in {time.perf_counter() - start:.0f} s; "
          f"directory {directory_bytes(src) / 1e6:.0f} MB")

    def cp(to: str) -> None:
        subprocess.run(["cp", "-r", src, to], check=True)

    def cp_sync(to: str) -> None:
        cp(to)
        fsync_tree(to)

    figures = {}
    for name, action in [("backup()", db.backup), ("cp -r", cp), ("cp -r + fsync", cp_sync)]:
        figures[name] = statistics.median(timed(action, dest) for _ in range(args.repeats))
    for name, seconds in figures.items():
        print(f"{name:15} {seconds:7.3f} s   ({figures[name] / figures['cp -r']:.2f} x cp -r)")

    idle = add_times(db, rng, lambda: time.sleep(figures["backup()"]), "idle")
    shutil.rmtree(dest, ignore_errors=True)
    busy = add_times(db, rng, lambda: db.backup(dest), "busy")
    shutil.rmtree(dest, ignore_errors=True)
    # The same copy by cp, with its syncs: what the file system alone makes a writer wait.
    copying = add_times(db, rng, lambda: cp_sync(dest), "copying")
    shutil.rmtree(dest, ignore_errors=True)
    for name, times in [("while a backup runs", busy), ("while cp -r + fsync runs", copying), ("without either", idle)]:
        print(f"single add {name:25}: median {statistics.median(times) * 1e3:.2f} ms, "
              f"longest {max(times) * 1e3:.2f} ms over {len(times)} adds")
    db.close()
    if not args.work:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
