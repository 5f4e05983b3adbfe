"""Benchmark quarn against hnswlib, faiss, usearch and ChromaDB.

    python bench/run_bench.py            # full run (about 15 minutes on 2 cores)
    python bench/run_bench.py --quick    # a few minutes
    python bench/run_bench.py --smoke    # seconds; tiny sizes, used by the test suite

Datasets are prepared (and cached) in OUT/cache; each library is then measured on
each dataset in a separate worker process (worker.py), and report.py turns the
JSON results into OUT/report.md and PNG plots.
"""

from __future__ import annotations

import argparse
import json
import os
import subprocess
import sys
import time
from dataclasses import asdict

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
if ROOT not in sys.path:
    sys.path.insert(0, ROOT)

from bench import report  # noqa: E402
from bench.aggregate import fold_results  # noqa: E402
from bench.datasets import DatasetSpec, prepare  # noqa: E402
from bench.peers import ENGINES  # noqa: E402

EFS = [10, 20, 40, 80, 160, 320]

PROFILES = {
    "full": {
        "datasets": [
            DatasetSpec("clustered-l2", "clustered", 100_000, 1000, 128, "l2", seed=1, filters=True,
                        quantized=True),
            DatasetSpec("clustered-cosine", "clustered", 100_000, 1000, 128, "cosine", seed=2, quantized=True),
            DatasetSpec("minilm-384", "minilm", 20_000, 1000, 384, "cosine", seed=3),
            DatasetSpec("chunks-l2", "chunks", 100_000, 1000, 128, "l2", seed=5,
                        note="near-duplicate chunks of documents, stored in document order"),
            DatasetSpec("scan-50k", "clustered", 50_000, 1000, 128, "l2", seed=4,
                        note="below quarn's scan limit (dim x count < 10,000,000): exhaustive search"),
        ],
        "cfg": {"efs": EFS, "filter_efs": [10, 40, 160], "nq_single": 300, "nq_batch": 1000,
                "nq_filter_single": 100, "nq_filter_batch": 300, "n_single_add": 2000, "persist_ef": 80,
                "single_add_seconds": 8.0},
        "timeout": 600,
    },
    "quick": {
        "datasets": [
            DatasetSpec("clustered-l2", "clustered", 80_000, 300, 128, "l2", seed=1, filters=True, quantized=True,
                        note="just above quarn's scan limit, so graph search is used"),
            DatasetSpec("scan-20k", "clustered", 20_000, 300, 128, "l2", seed=4,
                        note="below quarn's scan limit: exhaustive search"),
        ],
        "cfg": {"efs": [10, 40, 160], "filter_efs": [40], "nq_single": 100, "nq_batch": 300,
                "nq_filter_single": 50, "nq_filter_batch": 100, "n_single_add": 500, "persist_ef": 40,
                "single_add_seconds": 4.0},
        "timeout": 300,
    },
    "smoke": {
        "datasets": [
            DatasetSpec("tiny-l2", "clustered", 600, 20, 16, "l2", seed=1, filters=True, quantized=True),
        ],
        "cfg": {"efs": [10, 40], "filter_efs": [40], "nq_single": 10, "nq_batch": 20,
                "nq_filter_single": 5, "nq_filter_batch": 10, "n_single_add": 50, "persist_ef": 40,
                "single_add_seconds": 1.0},
        "timeout": 120,
    },
}

ORDER = ["quarn", "hnswlib", "faiss", "usearch", "chromadb", "faiss-sq8", "usearch-i8"]


def commit_of(root: str) -> str:
    """The checked-out commit of the tree quarn was built from, marked when files differ from it."""
    try:
        head = subprocess.run(["git", "-C", root, "rev-parse", "HEAD"], capture_output=True, text=True,
                              check=True).stdout.strip()
        dirty = subprocess.run(["git", "-C", root, "status", "--porcelain", "--untracked-files=no"],
                               capture_output=True, text=True, check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "unknown (not a git checkout)"
    return head + (" with uncommitted changes" if dirty else "")


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    g = ap.add_mutually_exclusive_group()
    g.add_argument("--quick", action="store_true", help="smaller sizes, a few minutes")
    g.add_argument("--smoke", action="store_true", help="tiny sizes, seconds (for tests)")
    ap.add_argument("--out", default=os.path.join(HERE, "out"), help="output folder (default bench/out)")
    ap.add_argument("--engines", default=",".join(ORDER),
                    help="comma-separated subset of: " + ", ".join(ORDER))
    ap.add_argument("--datasets", default="", help="comma-separated subset of the profile's dataset names")
    ap.add_argument("--threads", type=int, default=os.cpu_count() or 1, help="threads for every library")
    ap.add_argument("--no-plots", action="store_true", help="write the Markdown report only")
    ap.add_argument("--repeats", type=int, default=None,
                    help="runs of every library on every dataset; the report gives the median and the spread "
                         "(default 3, 1 with --smoke)")
    ap.add_argument("--pythons", default=None,
                    help="JSON file mapping each library to the interpreter of its virtual environment "
                         "(written by bench/run.sh; default OUT/venvs.json when it exists, else this interpreter)")
    args = ap.parse_args(argv)

    profile = "smoke" if args.smoke else "quick" if args.quick else "full"
    prof = PROFILES[profile]
    out = os.path.abspath(args.out)
    raw_dir = os.path.join(out, "raw")
    os.makedirs(raw_dir, exist_ok=True)
    logf = open(os.path.join(out, "run.log"), "w")
    t_start = time.time()

    def log(msg):
        line = f"[{time.time() - t_start:6.1f}s] {msg}"
        print(line, flush=True)
        logf.write(line + "\n")
        logf.flush()

    pythons_path = args.pythons or os.path.join(out, "venvs.json")
    pythons = {}
    if os.path.exists(pythons_path):
        with open(pythons_path) as f:
            pythons = json.load(f)

    def python_for(name):
        return pythons.get(name, sys.executable)

    def available(name):
        if python_for(name) == sys.executable:
            return ENGINES[name].available()
        check = "import importlib.util, sys; sys.exit(0 if all(importlib.util.find_spec(m) for m in sys.argv[1:]) else 1)"
        return subprocess.run([python_for(name), "-c", check, *ENGINES[name].modules]).returncode == 0

    repeats = args.repeats or (1 if args.smoke else 3)
    wanted = [e for e in args.engines.split(",") if e]
    unknown = [e for e in wanted if e not in ORDER]
    if unknown:
        ap.error(f"unknown engines: {unknown}")
    engines, missing = [], []
    for name in ORDER:
        if name in wanted:
            (engines if available(name) else missing).append(name)
    if missing:
        log(f"not installed, skipped: {', '.join(missing)}")
    dsets = prof["datasets"]
    if args.datasets:
        keep = set(args.datasets.split(","))
        dsets = [s for s in dsets if s.name in keep]

    cfg = dict(prof["cfg"], threads=args.threads, workdir=os.path.join(out, "work"))
    cfg_path = os.path.join(out, "config.json")
    with open(cfg_path, "w") as f:
        json.dump(cfg, f, indent=1)

    env = dict(os.environ, OMP_NUM_THREADS=str(args.threads), ANONYMIZED_TELEMETRY="False",
               PYTHONUNBUFFERED="1")
    results, timings = [], {}

    def run_worker(name, path, rep):
        res_path = os.path.join(raw_dir, f"{os.path.basename(path)}__{name}__{rep}.json")
        t = time.time()
        try:
            proc = subprocess.run([python_for(name), os.path.join(HERE, "worker.py"), name, path, cfg_path,
                                   res_path], env=env, capture_output=True, text=True, timeout=prof["timeout"])
            for line in proc.stdout.splitlines():
                log(line)
            if proc.returncode != 0:
                log(f"  {name} failed:\n{proc.stderr[-3000:]}")
            with open(res_path) as f:
                res = json.load(f)
        except subprocess.TimeoutExpired:
            res = {"engine": name, "error": f"timed out after {prof['timeout']} s"}
            log(f"  {name}: {res['error']}")
        except (OSError, ValueError) as exc:
            res = {"engine": name, "error": f"no result: {exc}"}
            log(f"  {name}: {res['error']}")
        res["wall_seconds"] = time.time() - t
        return res

    for dset in dsets:
        t = time.time()
        path = prepare(dset, os.path.join(out, "cache"), log=log)
        timings["prepare " + dset.name] = time.time() - t
        runs = {name: [] for name in engines if not (ENGINES[name].quantized_of and not dset.quantized)}
        order = list(runs)
        for rep in range(repeats):
            # The libraries take turns, starting one further each round, so that a change in the
            # machine's load falls on all of them alike.
            for name in order[rep % len(order):] + order[:rep % len(order)] if order else []:
                log(f"{dset.name}: {name} (run {rep + 1} of {repeats})")
                runs[name].append(run_worker(name, path, rep))
        for name, done in runs.items():
            res = fold_results(done)
            res.setdefault("dataset", dset.name)
            res["dset"] = asdict(dset)
            res["wall_seconds"] = sum(r.get("wall_seconds", 0.0) for r in done)
            timings[f"{dset.name} {name}"] = res["wall_seconds"]
            results.append(res)

    with open(os.path.join(out, "results.json"), "w") as f:
        json.dump({"profile": profile, "cfg": cfg, "results": results, "timings": timings,
                   "total_seconds": time.time() - t_start}, f, indent=1)

    path = report.write(out, results, profile=profile, cfg=cfg, total_seconds=time.time() - t_start,
                        plots=not args.no_plots, log=log, meta={"repeats": repeats, "commit": commit_of(ROOT)})
    log(f"report: {path}")
    log(f"total {time.time() - t_start:.0f} s")
    return 0 if not any("error" in r for r in results) else 1


if __name__ == "__main__":
    sys.exit(main())
