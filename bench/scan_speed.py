"""Queries per second of the exhaustive scan: ``search`` and ``search_many`` on random vectors.

50,000 x 128 stays below the size at which quarn switches from scanning to the graph, so
every query here scores the whole store. Usage: python3 bench/scan_speed.py [n] [dim] [queries]
"""

from __future__ import annotations

import sys
import tempfile
import time

import numpy as np

import quarn


def main() -> None:
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 50_000
    dim = int(sys.argv[2]) if len(sys.argv) > 2 else 128
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 1_000
    rng = np.random.default_rng(0)
    data = rng.standard_normal((n, dim), dtype=np.float32)
    queries = rng.standard_normal((count, dim), dtype=np.float32)
    with tempfile.TemporaryDirectory() as path:
        # A light graph keeps the build short; the scan never reads it.
        db = quarn.Database(path, dim=dim, metric="cosine", m=8, ef_construction=40)
        db.add_many([str(i) for i in range(n)], data)
        db.search(queries[0], k=10)  # warm-up, and the one-time hint
        single = min(200, count)
        start = time.perf_counter()
        for q in queries[:single]:
            db.search(q, k=10)
        one = single / (time.perf_counter() - start)
        start = time.perf_counter()
        db.search_many(queries, k=10)
        many = count / (time.perf_counter() - start)
    print(f"{n} x {dim}: search {one:,.0f} q/s, search_many {many:,.0f} q/s ({count} queries)")


if __name__ == "__main__":
    main()
