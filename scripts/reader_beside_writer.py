"""A reader process opening a database read-only in a loop beside a writer process that saves
after every write: counts failed opens and opens that did not see one generation whole.

    python scripts/reader_beside_writer.py [--opens 1000] [--dir DIR]

Record "r<i>" holds vector_of(i), {"i": i} and the document "doc <i>"; each writer step adds
r<i>, moves "u" to i, and saves. An open sees one generation whole when r0..r<n-1> are all there
with their own contents and "u" names the newest record or the one before it.
"""
import argparse
import multiprocessing as mp
import os
import shutil
import sys
import tempfile
import time

import numpy as np

import quarn

DIM = 16


def vector_of(i: int) -> np.ndarray:
    return ((np.arange(DIM, dtype=np.float32) * 13 + i * 7) % 101) / 10 + 1


def writer(path: str, stop, steps) -> None:
    with quarn.Database(path, dim=DIM, metric="euclidean") as db:
        i = 0
        while not stop.is_set():
            db.add(f"r{i}", vector_of(i), {"i": i}, document=f"doc {i}")
            db.upsert("u", vector_of(i), {"i": i})
            db.save()
            i += 1
            steps.value = i


def one_generation(db: quarn.Database) -> str:
    n = len(db) - 1
    if n < 0:
        return ""
    u_vector, u_meta = db.get("u")
    i = u_meta["i"]
    if i + 1 != n and i + 2 != n:
        return f"u is {i} beside {n} records"
    if not np.array_equal(u_vector, vector_of(i)):
        return "u's vector is not its own"
    ids = [f"r{j}" for j in range(n)]
    vectors, metas = db.get_many(ids)
    for j in range(n):
        if metas[j] != {"i": j} or not np.array_equal(vectors[j], vector_of(j)):
            return f"r{j} differs"
    problems = db.verify()
    return problems[0] if problems else ""


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--opens", type=int, default=1000)
    parser.add_argument("--dir", default=None, help="parent directory (default: a temporary one)")
    args = parser.parse_args(argv)
    parent = tempfile.mkdtemp(dir=args.dir)
    path = os.path.join(parent, "db")
    quarn.Database(path, dim=DIM, metric="euclidean").close()
    ctx = mp.get_context("spawn")
    stop, steps = ctx.Event(), ctx.Value("q", 0)
    proc = ctx.Process(target=writer, args=(path, stop, steps))
    proc.start()
    failed, mixed, first = 0, 0, ""
    try:
        while steps.value < 3:
            time.sleep(0.01)
        start_steps, t = steps.value, time.perf_counter()
        for _ in range(args.opens):
            try:
                db = quarn.Database(path, read_only=True)
            except ValueError as err:
                failed += 1
                first = first or str(err)
                continue
            try:
                problem = one_generation(db)
            finally:
                db.close()
            if problem:
                mixed += 1
                first = first or problem
        elapsed = time.perf_counter() - t
        saves = steps.value - start_steps
    finally:
        stop.set()
        proc.join()
        shutil.rmtree(parent, ignore_errors=True)
    print(f"opens {args.opens}, failed {failed}, not one generation {mixed}, writer saves meanwhile {saves}, "
          f"{elapsed:.1f} s" + (f"; first problem: {first}" if first else ""))
    return 1 if failed or mixed or proc.exitcode else 0


if __name__ == "__main__":
    sys.exit(main())
