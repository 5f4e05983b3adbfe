"""Reopen plus the first keyword search, with the keyword index loaded from keyword.bin against
rebuilt from the documents at open.

    python bench/keyword_reopen.py [--n 300000] [--repeats 3] [--work DIR]

Builds a saved database of n passages (three consecutive sentences of the Python standard
library's docstrings and comments each, cycled when there are fewer) with 8-dimensional random
vectors, then times, each the median of the repeats with the files in the page cache: opening it
and running one keyword search with keyword.bin in place, and the same with keyword.bin removed
(the open rebuilds the index from documents.bin). Also times reopening a database of the same
vectors without documents, which writes and reads no keyword files at all.
"""

from __future__ import annotations

import argparse
import os
import shutil
import statistics
import sys
import tempfile
import time

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

import quarn  # noqa: E402
from bench.embeddings import stdlib_sentences  # noqa: E402


def passages(n: int) -> list[str]:
    sentences = stdlib_sentences()
    return [" ".join(sentences[(3 * i + j) % len(sentences)] for j in range(3)) for i in range(n)]


def timed_open(path: str, query: str) -> float:
    start = time.perf_counter()
    db = quarn.Database(path)
    db.search_keyword(query, k=10)
    elapsed = time.perf_counter() - start
    db.close()
    return elapsed


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--n", type=int, default=300_000)
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--work", default=None)
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="quarn-kwreopen-", dir=args.work)
    try:
        texts = passages(args.n)
        vectors = np.random.default_rng(0).random((args.n, 8), dtype=np.float32)
        ids = [f"p{i}" for i in range(args.n)]
        with_docs, without_docs = os.path.join(work, "docs"), os.path.join(work, "plain")
        for path, documents in ((with_docs, texts), (without_docs, None)):
            with quarn.Database(path, dim=8, metric="l2") as db:
                for start in range(0, args.n, 50_000):
                    part = slice(start, start + 50_000)
                    db.add_many(ids[part], vectors[part], documents=documents[part] if documents else None)
        saved = os.path.join(work, "keyword.bin.saved")
        shutil.copy(os.path.join(with_docs, "keyword.bin"), saved)
        query = "return the value of the attribute"
        loaded, rebuilt, plain = [], [], []
        for _ in range(args.repeats):
            shutil.copy(saved, os.path.join(with_docs, "keyword.bin"))
            loaded.append(timed_open(with_docs, query))
            os.remove(os.path.join(with_docs, "keyword.bin"))
            rebuilt.append(timed_open(with_docs, query))
            start = time.perf_counter()
            quarn.Database(without_docs).close()
            plain.append(time.perf_counter() - start)
        sizes = {name: os.path.getsize(os.path.join(with_docs, name)) for name in ("documents.bin", "vectors.bin")}
        sizes["keyword.bin"] = os.path.getsize(saved)
        print(f"n={args.n} passages, repeats={args.repeats} (median seconds); file bytes {sizes}")
        print(f"reopen + first keyword search, index loaded from keyword.bin: {statistics.median(loaded):.3f}")
        print(f"reopen + first keyword search, index rebuilt from documents:  {statistics.median(rebuilt):.3f}")
        print(f"ratio rebuilt / loaded: {statistics.median(rebuilt) / statistics.median(loaded):.2f}")
        print(f"reopen of the same vectors without documents:                {statistics.median(plain):.3f}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
