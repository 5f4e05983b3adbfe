"""Damaged copies of a small saved database with a log: random bit flips and truncations in each
of its files, each copy opened as a user would, counting the opens that served contents different
from the undamaged database's without an error.

    python scripts/damaged_copies.py [--cases 3000] [--seed 1]

A damaged copy is opened with quarn.Database(path); an open that succeeds is compared, record by
record (vector, metadata, document), with the undamaged database, then verify_files() runs. A
torn tail of the log is dropped quietly by design: a log cut anywhere (it then ends in a record cut
short, as a crash leaves it; cut at a record boundary it is simply shorter) or with its last record
flipped serves the records before it, which is counted apart. Every other difference is a silent
serve. Exit status 1 when there is any.
"""
import argparse
import collections
import os
import random
import shutil
import sys
import tempfile

import numpy as np

import quarn

DIM = 8


def contents(db: quarn.Database) -> dict:
    ids = sorted(db.ids())
    if not ids:
        return {}
    vectors, metas, documents = db.get_many(ids, include_documents=True)
    return {id_: (vectors[i].tobytes(), repr(metas[i]), documents[i]) for i, id_ in enumerate(ids)}


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cases", type=int, default=3000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--rows", type=int, default=400,
                        help="records in the snapshot; above about 1,900 vectors.bin has blocks an open does not read")
    args = parser.parse_args(argv)
    rng = random.Random(args.seed)
    work = tempfile.mkdtemp()
    try:
        pristine = os.path.join(work, "pristine")
        make_pristine(pristine, args.rows)
        with quarn.Database(pristine, read_only=True) as db:
            truth = contents(db)
        files = sorted(f for f in os.listdir(pristine) if f != "writer.lock")
        counts = collections.Counter()
        silent = collections.Counter()
        torn = collections.Counter()
        copy = os.path.join(work, "copy")
        wal_size = os.path.getsize(os.path.join(pristine, "wal.quarn"))
        last_record = last_record_offset(pristine)
        for case in range(args.cases):
            name = files[case % len(files)]
            shutil.rmtree(copy, ignore_errors=True)
            shutil.copytree(pristine, copy)
            target = os.path.join(copy, name)
            data = bytearray(open(target, "rb").read())
            truncate = rng.random() < 0.25
            if truncate:
                at = rng.randrange(len(data))
                data = data[:at]
            else:
                at = rng.randrange(len(data))
                data[at] ^= 1 << rng.randrange(8)
            open(target, "wb").write(bytes(data))
            counts[name] += 1
            try:
                db = quarn.Database(copy)
            except ValueError:
                counts["refused"] += 1
                continue
            try:
                served = contents(db)
                check = db.verify_files()
            finally:
                db.close()
            if served == truth:
                counts["same"] += 1
                continue
            if name == "wal.quarn" and (truncate or at >= last_record):
                # A log cut anywhere ends in a torn record, as a crash leaves it; the last record
                # flipped is the same: both dropped quietly by design.
                torn["cut" if truncate else "last record flipped"] += 1
                continue
            silent[f"{name} {'cut' if truncate else 'flipped'}"] += 1
            if check["problems"]:
                counts["different, found by verify_files"] += 1
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"cases {args.cases} over {len(files)} files {files}")
    print(f"  refused with an error: {counts['refused']}, opened with the same contents: {counts['same']}")
    print(f"  torn tail of the log dropped quietly (by design): {sum(torn.values())} {dict(torn)}")
    print(f"  served different contents without an error: {sum(silent.values())} {dict(silent)}"
          f" (of them found by verify_files: {counts['different, found by verify_files']})")
    return 1 if silent else 0


def make_pristine(path: str, rows: int) -> None:
    """A saved database with a log of records after the save, left unsaved."""
    rng = np.random.default_rng(5)
    db = quarn.Database(path, dim=DIM, metric="euclidean", quantize=True)
    db.add_many([f"r{i}" for i in range(rows)], rng.random((rows, DIM), dtype=np.float32),
                [{"i": i} for i in range(rows)])
    for i in range(0, rows, 3):
        db.update(f"r{i}", document=f"doc {i}")
    db.save()
    for i in range(rows, rows + 10):
        db.add(f"r{i}", rng.random(DIM, dtype=np.float32), {"i": i})
    db.add_many([f"b{i}" for i in range(5)], rng.random((5, DIM), dtype=np.float32))
    db.update("r3", metadata={"i": -3})
    db.delete("r5")
    db.close()  # closing saves nothing: the last writes stay in the log


def last_record_offset(path: str) -> int:
    """Where the log's last frame starts (type u8, length u32, payload, CRC u32)."""
    data = open(os.path.join(path, "wal.quarn"), "rb").read()
    at = last = 0
    while at + 9 <= len(data):
        length = int.from_bytes(data[at + 1:at + 5], "little")
        last, at = at, at + 9 + length
    return last


if __name__ == "__main__":
    sys.exit(main())
