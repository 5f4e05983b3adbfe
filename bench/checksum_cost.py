"""What the snapshot checksums cost: save, reopen and first search with a manifest against the
same directory without one (its files unchecked), the CRC-32C of every block of every snapshot
file (what verify_files reads; an upper bound of both the save's checksum work and of checking
every block of vectors.bin on first touch), all as ratios to hnswlib's load of the same vectors,
measured in the same run.

    python bench/checksum_cost.py [--n 100000] [--dim 128] [--repeats 7]
        [--hnswlib-python /work/venvs/bench/bin/python]

Random float32 vectors (seed 1), euclidean, M 16, ef_construction 200 for both. Every figure is
the median of --repeats runs with the files in the page cache.
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

import quarn

HNSWLIB_CHILD = r"""
import json, statistics, sys, time
import numpy as np, hnswlib
data = np.load(sys.argv[1]); path = sys.argv[2]; repeats = int(sys.argv[3])
idx = hnswlib.Index(space="l2", dim=data.shape[1])
idx.init_index(max_elements=len(data), ef_construction=200, M=16, random_seed=100)
idx.add_items(data, np.arange(len(data)))
idx.save_index(path)
loads, firsts = [], []
for _ in range(repeats):
    t = time.perf_counter()
    other = hnswlib.Index(space="l2", dim=data.shape[1])
    other.load_index(path, max_elements=len(data))
    loads.append(time.perf_counter() - t)
    other.set_ef(64)
    t = time.perf_counter()
    other.knn_query(data[:1], k=10)
    firsts.append(time.perf_counter() - t)
import importlib.metadata
print(json.dumps({"load_s": statistics.median(loads), "first_search_s": statistics.median(firsts),
                  "version": importlib.metadata.version("hnswlib")}))
"""


def median_time(fn, repeats):
    times = []
    for _ in range(repeats):
        t = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t)
    return statistics.median(times)


def reopen_and_search(path, query):
    def run():
        db = quarn.Database(path, read_only=True)
        db.search(query, k=10, ef_search=64)
        db.close()
    return run


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--n", type=int, default=100000)
    parser.add_argument("--dim", type=int, default=128)
    parser.add_argument("--repeats", type=int, default=7)
    parser.add_argument("--hnswlib-python", default=sys.executable)
    args = parser.parse_args(argv)
    data = np.random.default_rng(1).random((args.n, args.dim), dtype=np.float32)
    work = tempfile.mkdtemp()
    try:
        path, bare = os.path.join(work, "db"), os.path.join(work, "bare")
        db = quarn.Database(path, dim=args.dim, metric="euclidean")
        db.add_many([str(i) for i in range(args.n)], data)
        out = {"n": args.n, "dim": args.dim, "repeats": args.repeats}
        out["save_s"] = median_time(db.save, args.repeats)
        report = db.verify_files()
        assert report["checked"] and not report["problems"], report
        out["checked_bytes"] = report["bytes"]
        out["crc_all_blocks_s"] = median_time(db.verify_files, args.repeats)
        db.close()
        shutil.copytree(path, bare)
        os.remove(os.path.join(bare, "manifest.quarn"))
        out["reopen_first_search_s"] = median_time(reopen_and_search(path, data[0]), args.repeats)
        out["reopen_first_search_unchecked_s"] = median_time(reopen_and_search(bare, data[0]), args.repeats)
        np.save(os.path.join(work, "data.npy"), data)
        child = subprocess.run([args.hnswlib_python, "-c", HNSWLIB_CHILD, os.path.join(work, "data.npy"),
                                os.path.join(work, "index.hnswlib"), str(args.repeats)],
                               capture_output=True, text=True, check=True)
        peer = json.loads(child.stdout)
        out["hnswlib"] = peer
        load = peer["load_s"]
        out["ratios_to_hnswlib_load"] = {
            "reopen_first_search": out["reopen_first_search_s"] / load,
            "reopen_first_search_unchecked": out["reopen_first_search_unchecked_s"] / load,
            "open_checks": (out["reopen_first_search_s"] - out["reopen_first_search_unchecked_s"]) / load,
            "crc_all_blocks": out["crc_all_blocks_s"] / load,
            "save": out["save_s"] / load,
        }
        print(json.dumps(out, indent=2))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
