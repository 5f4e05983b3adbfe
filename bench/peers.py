"""The peers quarn is measured against, behind the interface of engines.Engine.

All graph indexes are built with M = 16 and ef_construction = 200 and run with the
same number of threads. Cosine data for faiss is L2-normalised and searched by inner
product (faiss has no cosine metric); the normalisation is part of its timed build.
"""

from __future__ import annotations

import os

import numpy as np

from bench.engines import EF_CONSTRUCTION, M, Engine, Quarn, QuarnSQ8


def _normalized(x):
    x = np.array(x, dtype=np.float32, copy=True)
    x /= np.maximum(np.linalg.norm(x, axis=-1, keepdims=True), 1e-30)
    return x


def _found(row) -> list:
    """Row numbers of one result row, without the -1 that pads a short answer."""
    return [int(x) for x in np.asarray(row).ravel() if x >= 0]


class Hnswlib(Engine):
    name = "hnswlib"
    modules = ("hnswlib",)
    index_file = "index.hnswlib"
    supports_filter = True
    note = "filter as a Python callable (called per visited node, single-threaded)"

    def _new(self, capacity):
        import hnswlib

        idx = hnswlib.Index(space="l2" if self.metric == "l2" else "cosine", dim=self.dim)
        idx.init_index(max_elements=capacity, ef_construction=EF_CONSTRUCTION, M=M, random_seed=100)
        idx.set_num_threads(self.threads)
        return idx

    def build(self, vectors, metas=None):
        self.n = len(vectors)
        self.idx = self._new(self.n)
        self.idx.add_items(vectors, np.arange(self.n), num_threads=self.threads)

    def set_ef(self, ef):
        self.ef = ef
        self.idx.set_ef(ef)

    # hnswlib raises when it finds fewer than k: never ask for more than the index holds.
    def search_one(self, q, k):
        return self.idx.knn_query(q, k=min(k, self.n), num_threads=1)[0]

    def search_batch(self, qs, k):
        return self.idx.knn_query(qs, k=min(k, self.n), num_threads=self.threads)[0]

    def ids_one(self, raw):
        return _found(raw)

    def ids_batch(self, raw):
        return [_found(r) for r in raw]

    def make_filter(self, flt):
        mask = flt["mask"]
        return dict(flt, fn=lambda label: bool(mask[label]), matches=int(mask.sum()))

    def search_one_filtered(self, q, k, flt):
        if flt["matches"] == 0:
            return np.empty((1, 0), np.int64)
        return self.idx.knn_query(q, k=min(k, flt["matches"]), num_threads=1, filter=flt["fn"])[0]

    def search_batch_filtered(self, qs, k, flt):
        if flt["matches"] == 0:
            return np.empty((len(qs), 0), np.int64)
        return self.idx.knn_query(qs, k=min(k, flt["matches"]), num_threads=1, filter=flt["fn"])[0]

    def _write(self, path):
        self.idx.save_index(path)

    def _read(self, path):
        import hnswlib

        idx = hnswlib.Index(space="l2" if self.metric == "l2" else "cosine", dim=self.dim)
        idx.load_index(path, max_elements=self.n)
        idx.set_num_threads(self.threads)
        return idx

    def single_adder(self, capacity):
        idx = self._new(capacity)
        return lambda i, v, meta: idx.add_items(v[None, :], [i], num_threads=1)


class Faiss(Engine):
    name = "faiss"
    modules = ("faiss",)
    index_file = "index.faiss"
    supports_filter = True
    note = "IndexHNSWFlat; filter as an IDSelectorBitmap"

    def __init__(self, *a, **kw):
        super().__init__(*a, **kw)
        import faiss

        self.faiss = faiss
        self.faiss_metric = faiss.METRIC_L2 if self.metric == "l2" else faiss.METRIC_INNER_PRODUCT
        self._threads(self.threads)

    def _threads(self, n):
        # faiss's thread count is process-wide: set it for every call that depends on it.
        if getattr(self, "omp", None) != n:
            self.faiss.omp_set_num_threads(n)
            self.omp = n

    def _new(self):
        idx = self.faiss.IndexHNSWFlat(self.dim, M, self.faiss_metric)
        idx.hnsw.efConstruction = EF_CONSTRUCTION
        return idx

    def _rows(self, x):
        x = np.ascontiguousarray(x, dtype=np.float32)
        return _normalized(x) if self.metric == "cosine" else x

    def build(self, vectors, metas=None):
        self._threads(self.threads)
        self.idx = self._new()
        x = self._rows(vectors)
        if not self.idx.is_trained:
            self.idx.train(x)
        self.idx.add(x)

    def prepare_queries(self, queries):
        return self._rows(queries)

    def set_ef(self, ef):
        self.ef = ef
        self.idx.hnsw.efSearch = ef

    def search_one(self, q, k):
        self._threads(1)
        return self.idx.search(q[None, :], k)[1]

    def search_batch(self, qs, k):
        self._threads(self.threads)
        return self.idx.search(qs, k)[1]

    def ids_one(self, raw):
        return _found(raw)

    def ids_batch(self, raw):
        return [_found(r) for r in raw]

    def make_filter(self, flt):
        bits = np.packbits(flt["mask"].astype(np.uint8), bitorder="little")
        sel = self.faiss.IDSelectorBitmap(len(flt["mask"]), self.faiss.swig_ptr(bits))
        return dict(flt, bits=bits, sel=sel)

    def _params(self, flt):
        p = self.faiss.SearchParametersHNSW()
        p.efSearch = self.ef
        p.sel = flt["sel"]
        return p

    def search_one_filtered(self, q, k, flt):
        self._threads(1)
        return self.idx.search(q[None, :], k, params=self._params(flt))[1]

    def search_batch_filtered(self, qs, k, flt):
        self._threads(self.threads)
        return self.idx.search(qs, k, params=self._params(flt))[1]

    def _write(self, path):
        self.faiss.write_index(self.idx, path)

    def _read(self, path):
        return self.faiss.read_index(path)

    def single_adder(self, capacity):
        self._threads(1)
        idx = self._new()
        self._single_keep = idx
        return lambda i, v, meta: idx.add(self._rows(v[None, :]))


class FaissSQ8(Faiss):
    name = "faiss-sq8"
    quantized_of = "faiss"
    supports_filter = False
    note = "IndexHNSWSQ with 8-bit scalar quantizer (trained on the base vectors)"

    def _new(self):
        idx = self.faiss.IndexHNSWSQ(self.dim, self.faiss.ScalarQuantizer.QT_8bit, M, self.faiss_metric)
        idx.hnsw.efConstruction = EF_CONSTRUCTION
        return idx


class Usearch(Engine):
    name = "usearch"
    modules = ("usearch",)
    index_file = "index.usearch"
    dtype = "f32"
    note = "usearch.index.Index, dtype f32"

    def _new(self):
        from usearch.index import Index

        return Index(ndim=self.dim, metric="l2sq" if self.metric == "l2" else "cos",
                     connectivity=M, expansion_add=EF_CONSTRUCTION, dtype=self.dtype)

    def build(self, vectors, metas=None):
        self.idx = self._new()
        self.idx.add(np.arange(len(vectors)), vectors, threads=self.threads)

    def set_ef(self, ef):
        self.ef = ef
        self.idx.expansion_search = ef

    def search_one(self, q, k):
        return self.idx.search(q, k, threads=1)

    def search_batch(self, qs, k):
        return self.idx.search(qs, k, threads=self.threads)

    def ids_one(self, raw):
        return [int(x) for x in raw.keys]

    def ids_batch(self, raw):
        # Rows shorter than k are padded with arbitrary keys: only the first counts[i] hold.
        return [[int(x) for x in row[:n]] for row, n in zip(raw.keys, raw.counts)]

    def _write(self, path):
        self.idx.save(path)

    def _read(self, path):
        from usearch.index import Index

        return Index.restore(path)

    def single_adder(self, capacity):
        idx = self._new()
        self._single_keep = idx
        return lambda i, v, meta: idx.add(i, v, threads=1)


class UsearchI8(Usearch):
    name = "usearch-i8"
    quantized_of = "usearch"
    dtype = "i8"
    note = "usearch.index.Index, dtype i8 (built from float32 input)"


class Chroma(Engine):
    name = "chromadb"
    modules = ("chromadb",)
    supports_filter = True
    note = ("PersistentClient; its HNSW settings are given in the collection configuration; "
            "ef_search takes effect when the collection is loaded, so each change reopens the client; "
            "its 1.x configuration has no thread setting")
    save_note = "ChromaDB writes while adding: no separate save step"

    COLLECTION = "bench"

    def __init__(self, *a, **kw):
        os.environ.setdefault("ANONYMIZED_TELEMETRY", "False")
        super().__init__(*a, **kw)
        import chromadb
        from chromadb.config import Settings

        self.chromadb = chromadb
        self.settings = Settings(anonymized_telemetry=False, allow_reset=True)

    def _client(self, sub):
        path = os.path.join(self.workdir, sub)
        return self.chromadb.PersistentClient(path=path, settings=self.settings), path

    def _create(self, client, ef=10):
        return client.create_collection(
            self.COLLECTION, embedding_function=None,
            configuration={"hnsw": {"space": "l2" if self.metric == "l2" else "cosine",
                                    "ef_construction": EF_CONSTRUCTION, "max_neighbors": M,
                                    "ef_search": ef}})

    def build(self, vectors, metas=None):
        self.client, self.path = self._client("db")
        self.col = self._create(self.client)
        step = self.client.get_max_batch_size()
        for s in range(0, len(vectors), step):
            e = min(len(vectors), s + step)
            self.col.add(ids=[str(i) for i in range(s, e)], embeddings=vectors[s:e],
                         metadatas=None if metas is None else metas[s:e])
        self.ef = 10
        self.first_q = vectors[0]

    def _reload(self):
        from chromadb.api.client import SharedSystemClient

        self.col = None
        self.client = None
        SharedSystemClient.clear_system_cache()
        self.client, _ = self._client("db")
        self.col = self.client.get_collection(self.COLLECTION)

    def set_ef(self, ef):
        if ef != self.ef:
            self.col.modify(configuration={"hnsw": {"ef_search": ef}})
            self._reload()
            self.ef = ef
            self.col.query(query_embeddings=self.first_q[None, :], n_results=1)  # load the index untimed

    def search_one(self, q, k):
        return self.col.query(query_embeddings=q[None, :], n_results=k, include=["distances"])

    def search_batch(self, qs, k):
        return self.col.query(query_embeddings=qs, n_results=k, include=["distances"])

    def ids_one(self, raw):
        return [int(x) for x in raw["ids"][0]]

    def ids_batch(self, raw):
        return [[int(x) for x in row] for row in raw["ids"]]

    def make_filter(self, flt):
        where = flt["where"]
        if len(where) > 1:  # ChromaDB takes one condition per dict
            where = {"$and": [{key: value} for key, value in where.items()]}
        return dict(flt, where=where)

    def search_one_filtered(self, q, k, flt):
        return self.col.query(query_embeddings=q[None, :], n_results=k, where=flt["where"],
                              include=["distances"])

    def search_batch_filtered(self, qs, k, flt):
        return self.col.query(query_embeddings=qs, n_results=k, where=flt["where"], include=["distances"])

    def save(self):
        return self.path

    def close(self):
        self.col = None

    def reopen(self):
        self._reload()

    def single_adder(self, capacity):
        client, _ = self._client("single")
        col = self._create(client)

        def add(i, v, meta):
            col.add(ids=[str(i)], embeddings=v[None, :], metadatas=None if meta is None else [meta])
        self._single_keep = (client, col)
        return add


ENGINES = {e.name: e for e in (Quarn, QuarnSQ8, Hnswlib, Faiss, FaissSQ8, Usearch, UsearchI8, Chroma)}


def make(name: str, dim: int, metric: str, threads: int, workdir: str):
    """An engine by name, or None (with a line saying so) when its library is not installed."""
    cls = ENGINES[name]
    if not cls.available():
        print(f"  {name}: not installed, skipped", flush=True)
        return None
    return cls(dim, metric, threads, workdir)
