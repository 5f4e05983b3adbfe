"""Benchmark datasets: base vectors, held-out queries, exact ground truth, filters.

Every dataset is generated (or embedded) once and cached as an .npz file, so the
worker processes that measure one library each load identical data.
"""

from __future__ import annotations

import json
import os
import time
from dataclasses import asdict, dataclass, field

import numpy as np

K = 10
CACHE_VERSION = 3
# Category field attached to records of datasets with filters: 100 values, uniform.
CATEGORIES = 100


@dataclass
class DatasetSpec:
    name: str
    kind: str              # "clustered", "chunks" or "minilm"
    n: int
    nq: int
    dim: int
    metric: str            # "l2" or "cosine"
    seed: int = 0
    filters: bool = False  # attach a category to every record and measure filtered search
    quantized: bool = False
    note: str = ""
    extra: dict = field(default_factory=dict)

    def key(self) -> str:
        return f"{self.name}-{self.kind}-{self.n}-{self.nq}-{self.dim}-{self.metric}-{self.seed}-v{CACHE_VERSION}"


# Filters are given once in the shared where-syntax (quarn and ChromaDB accept it as is)
# together with the predicate on the category, from which the other peers' filters and
# the exact filtered answers are made.
FILTERS = {
    "10%": {"where": {"cat": {"$lt": 10}}, "lo": 0, "hi": 10},
    "1%": {"where": {"cat": 42}, "lo": 42, "hi": 43},
}


def filter_mask(cat: np.ndarray, name: str) -> np.ndarray:
    f = FILTERS[name]
    return (cat >= f["lo"]) & (cat < f["hi"])


def clustered(n: int, dim: int, seed: int, clusters: int = 200) -> np.ndarray:
    """Gaussian clusters with unequal spreads, overlapping enough that graph search
    needs a real beam (a plain isotropic cloud or well-separated blobs would be too easy)."""
    rng = np.random.default_rng(seed)
    centers = rng.normal(size=(clusters, dim)).astype(np.float32)
    scales = rng.uniform(0.4, 1.0, size=clusters).astype(np.float32)
    which = rng.integers(0, clusters, size=n)
    out = np.empty((n, dim), np.float32)
    step = 65536
    for s in range(0, n, step):
        w = which[s:s + step]
        noise = rng.normal(size=(len(w), dim)).astype(np.float32)
        out[s:s + step] = centers[w] + noise * scales[w, None]
    return out


def gaussian_clusters(n: int, nq: int, dim: int, clusters: int, spread: float, seed: int):
    """Isotropic clusters (sigma 1) with centres uniform in [-spread, spread]^dim; queries drawn
    the same way. Returns base, queries, the cluster of each, and the centres."""
    rng = np.random.default_rng(seed)
    centres = rng.uniform(-spread, spread, size=(clusters, dim)).astype(np.float32)
    which = rng.integers(0, clusters, size=n + nq)
    vecs = centres[which] + rng.normal(size=(n + nq, dim)).astype(np.float32)
    return (np.ascontiguousarray(vecs[:n]), np.ascontiguousarray(vecs[n:]), which[:n], which[n:], centres)


def minilm(n: int, nq: int, cache: str):
    """n base and nq held-out sentence embeddings (cached in ``cache``); None without the model."""
    from bench.embeddings import available, sentence_embeddings

    if not available():
        return None
    path = os.path.join(cache, f"minilm-{n + nq}.npy")
    if os.path.exists(path):
        vecs = np.load(path)
    else:
        vecs, _ = sentence_embeddings(n + nq, progress=print)
        vecs = np.asarray(vecs, dtype=np.float32)
        np.save(path, vecs)
    vecs = vecs[np.random.default_rng(3).permutation(len(vecs))]
    return vecs[:n], vecs[n:n + nq]


def near_duplicate_chunks(n: int, nq: int, dim: int, seed: int, topics: int = 40,
                          docs_per_topic: int = 50) -> tuple[np.ndarray, np.ndarray]:
    """Chunks of documents: topic centres N(0, 1), documents at centre + 0.3 N(0, 1), chunks at
    document + 0.03 N(0, 1), stored in document order (n / documents chunks each). Each query is a
    new chunk of a random document, so its true neighbours are chunks of that document: tight
    groups that a diversity rule can cut off from the rest of a graph."""
    rng = np.random.default_rng(seed)
    docs = topics * docs_per_topic
    centres = rng.standard_normal((topics, dim), dtype=np.float32)
    doc_vecs = (np.repeat(centres, docs_per_topic, axis=0)
                + 0.3 * rng.standard_normal((docs, dim), dtype=np.float32))
    owner = np.arange(n) * docs // n
    base = doc_vecs[owner] + 0.03 * rng.standard_normal((n, dim), dtype=np.float32)
    asked = rng.integers(0, docs, size=nq)
    queries = doc_vecs[asked] + 0.03 * rng.standard_normal((nq, dim), dtype=np.float32)
    return base.astype(np.float32), queries.astype(np.float32)


def exact_knn(base: np.ndarray, queries: np.ndarray, metric: str, k: int = K,
              mask: np.ndarray | None = None) -> np.ndarray:
    """Exact k nearest neighbours (row indices of ``base``) in float64, nearest first, equal
    distances in row order. ``mask`` keeps only its true rows: one row of flags for every query,
    or one per query. Rows with fewer matches are padded with -1."""
    per_query = mask is not None and np.ndim(mask) == 2
    idx = np.arange(len(base)) if mask is None or per_query else np.flatnonzero(mask)
    b = base[idx].astype(np.float64)
    q = np.asarray(queries, dtype=np.float64)
    if metric == "cosine":
        b = b / np.maximum(np.linalg.norm(b, axis=1, keepdims=True), 1e-30)
        q = q / np.maximum(np.linalg.norm(q, axis=1, keepdims=True), 1e-30)
    bn = (b * b).sum(1)
    out = np.full((len(q), k), -1, np.int64)
    if len(idx) == 0 or k == 0:
        return out
    for s in range(0, len(q), 256):
        d = -(q[s:s + 256] @ b.T) if metric == "cosine" else bn[None, :] - 2.0 * (q[s:s + 256] @ b.T)
        if per_query:
            d[~np.asarray(mask[s:s + 256], dtype=bool)] = np.inf
        for r, row in enumerate(d):
            out[s + r] = _nearest(row, k, idx)
    return out


def _nearest(d: np.ndarray, k: int, idx: np.ndarray) -> np.ndarray:
    """``idx`` of the k smallest finite ``d``, ties in index order, padded with -1."""
    out = np.full(k, -1, np.int64)
    kk = min(k, len(d))
    kth = np.partition(d, kk - 1)[kk - 1]
    # argpartition alone picks any of several rows tied at the k-th distance.
    near = np.flatnonzero(d < kth) if np.isfinite(kth) else np.flatnonzero(np.isfinite(d))
    if np.isfinite(kth):
        near = np.concatenate([near, np.flatnonzero(d == kth)[:kk - len(near)]])
    near = near[np.argsort(d[near], kind="stable")]
    out[:len(near)] = idx[near]
    return out


def _make_vectors(dset: DatasetSpec, log) -> tuple[np.ndarray, np.ndarray, str]:
    if dset.kind == "minilm":
        from bench.embeddings import available, sentence_embeddings

        if available():
            log(f"[{dset.name}] embedding {dset.n + dset.nq} sentences with all-MiniLM-L6-v2 "
                "(NumPy forward pass; cached afterwards)")
            vecs, _ = sentence_embeddings(dset.n + dset.nq, progress=log)
            source = "all-MiniLM-L6-v2 embeddings of Python standard-library docstring sentences"
        else:
            log(f"[{dset.name}] embedding model not installed: clustered synthetic vectors instead")
            vecs = clustered(dset.n + dset.nq, dset.dim, dset.seed)
            source = "clustered synthetic (embedding model not installed)"
        rng = np.random.default_rng(dset.seed + 1)
        perm = rng.permutation(len(vecs))
        vecs = vecs[perm]
    elif dset.kind == "chunks":
        base, queries = near_duplicate_chunks(dset.n, dset.nq, dset.dim, dset.seed)
        return base, queries, "near-duplicate chunks (40 topics x 50 documents, chunks in document order)"
    else:
        vecs = clustered(dset.n + dset.nq, dset.dim, dset.seed)
        source = "clustered synthetic (200 Gaussian clusters)"
    return vecs[:dset.n], vecs[dset.n:], source


def prepare(dset: DatasetSpec, cache_dir: str, log=print) -> str:
    """Create the dataset file for ``dset`` unless cached; return its path."""
    os.makedirs(cache_dir, exist_ok=True)
    path = os.path.join(cache_dir, dset.key() + ".npz")
    if os.path.exists(path):
        return path
    t0 = time.time()
    base, queries, source = _make_vectors(dset, log)
    arrays = {"base": base, "queries": queries,
              "gt": exact_knn(base, queries, dset.metric)}
    if dset.filters:
        cat = np.random.default_rng(dset.seed + 7).integers(0, CATEGORIES, size=dset.n).astype(np.int64)
        arrays["cat"] = cat
        for name in FILTERS:
            arrays["gt_" + name] = exact_knn(base, queries, dset.metric, mask=filter_mask(cat, name))
    meta = dict(asdict(dset), source=source)
    arrays["meta"] = np.frombuffer(json.dumps(meta).encode(), dtype=np.uint8)
    tmp = path + ".tmp.npz"
    np.savez(tmp, **arrays)
    os.replace(tmp, path)
    log(f"[{dset.name}] prepared in {time.time() - t0:.1f} s ({source})")
    return path


class Dataset:
    """A prepared dataset as loaded by a worker."""

    def __init__(self, path: str):
        with np.load(path) as z:
            self.meta = json.loads(bytes(z["meta"]).decode())
            self.base = np.ascontiguousarray(z["base"])
            self.queries = np.ascontiguousarray(z["queries"])
            self.gt = z["gt"]
            self.cat = z["cat"] if "cat" in z.files else None
            self.gt_filtered = {n: z["gt_" + n] for n in FILTERS if "gt_" + n in z.files}
        self.name = self.meta["name"]
        self.metric = self.meta["metric"]
        self.dim = self.base.shape[1]
        self.n = len(self.base)


def recall(found: list, truth: np.ndarray, k: int = K) -> float:
    """Mean recall@k: share of the true k nearest (ignoring -1 padding) among the ids found."""
    total = hit = 0
    for ids, t in zip(found, truth):
        want = set(int(x) for x in t[:k] if x >= 0)
        total += len(want)
        hit += len(want.intersection(int(x) for x in list(ids)[:k]))
    return hit / total if total else 1.0


def zero_recall(found: list, truth: np.ndarray, k: int = K) -> int:
    """Queries that found none of their true k nearest (those with any)."""
    misses = 0
    for ids, t in zip(found, truth):
        want = set(int(x) for x in t[:k] if x >= 0)
        misses += bool(want) and not want.intersection(int(x) for x in list(ids)[:k])
    return misses
