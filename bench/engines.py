"""Common interface of the measured libraries, and quarn's implementation of it.

One ``Engine`` object wraps one index or database; every driver (worker.py for run_bench.py,
speed.py, search_quality.py) measures through it. The order of calls: ``build`` (batch
insertion), then ``set_ef`` / ``search_one`` / ``search_batch`` for each beam width, optionally
the filtered and quantized variants, ``save``, ``close`` and ``reopen``, and ``single_adder``
for a fresh, separate index. Search methods return the raw result of the library's call (so
that converting results is not timed) and ``ids_one`` / ``ids_batch`` turn it into row numbers,
without padding. ``search_one`` runs on one thread, ``search_batch`` and ``build`` on
``threads``.
"""

from __future__ import annotations

import importlib.util
import os

M = 16
EF_CONSTRUCTION = 200


def dir_size(path: str) -> int:
    if os.path.isfile(path):
        return os.path.getsize(path)
    total = 0
    for root, _, files in os.walk(path):
        for f in files:
            try:
                total += os.path.getsize(os.path.join(root, f))
            except OSError:
                pass
    return total


class Engine:
    name = "?"
    modules: tuple = ()
    # "toggle": quantized search is switched on for the built index (no rebuild);
    # None: this engine has no quantized mode of its own (quantized peers are
    # separate engines with their own build).
    quantized_kind = None
    quantized_of = None       # for a quantized peer: the name of its full-precision engine
    supports_filter = False
    note = ""

    def __init__(self, dim: int, metric: str, threads: int, workdir: str):
        self.dim = dim
        self.metric = metric
        self.threads = threads
        self.workdir = workdir
        self.ef = None
        os.makedirs(workdir, exist_ok=True)

    @classmethod
    def available(cls) -> bool:
        return all(importlib.util.find_spec(m) is not None for m in cls.modules)

    # build; metas: one metadata dict per vector (engines that filter by mask ignore it)
    def build(self, vectors, metas=None) -> None: raise NotImplementedError
    def prepare_queries(self, queries): return queries
    def uses_exhaustive_scan(self) -> bool: return False
    def diagnostics(self): return None

    # search
    def set_ef(self, ef: int) -> None: raise NotImplementedError
    def search_one(self, q, k: int): raise NotImplementedError
    def search_batch(self, qs, k: int): raise NotImplementedError
    def ids_one(self, raw) -> list: raise NotImplementedError
    def ids_batch(self, raw) -> list: return [self.ids_one(r) for r in raw]

    # filtered search; flt = {"where": dict, "mask": bool array over rows}
    def make_filter(self, flt): return flt
    def search_one_filtered(self, q, k: int, flt): raise NotImplementedError
    def search_batch_filtered(self, qs, k: int, flt): raise NotImplementedError

    # quantized search ("toggle" engines)
    def set_quantized(self, on: bool) -> None: raise NotImplementedError

    # persistence: save returns the path whose size is reported; close drops the index from
    # memory, reopen loads it from the saved files (closing it first where needed). An index
    # kept in one file (index_file) only needs _write and _read.
    index_file = ""
    save_note = ""

    def save(self) -> str:
        self.path = os.path.join(self.workdir, self.index_file)
        self._write(self.path)
        return self.path

    def close(self) -> None:
        self.idx = None

    def reopen(self) -> None:
        self.close()
        self.idx = self._read(self.path)
        if self.ef is not None:
            self.set_ef(self.ef)

    def _write(self, path: str) -> None: raise NotImplementedError
    def _read(self, path: str): raise NotImplementedError

    # single adds into a fresh index: a function add(i, vector, metadata dict or None) timed by the caller
    def single_adder(self, capacity: int): raise NotImplementedError


class Quarn(Engine):
    name = "quarn"
    modules = ("quarn",)
    quantized_kind = "toggle"
    supports_filter = True
    quantize = False

    def _open_new(self, sub):
        import quarn

        path = os.path.join(self.workdir, sub)
        db = quarn.Database(path, dim=self.dim, metric="euclidean" if self.metric == "l2" else "cosine",
                            m=M, ef_construction=EF_CONSTRUCTION, quantize=self.quantize)
        return db, path

    def build(self, vectors, metas=None):
        self.db, self.path = self._open_new("db")
        self.db.add_many([str(i) for i in range(len(vectors))], vectors, metas)

    def uses_exhaustive_scan(self):
        return bool(self.db.stats()["uses_brute_force"])

    def diagnostics(self):
        return self.db.stats()

    def set_ef(self, ef):
        self.ef = ef

    def search_one(self, q, k):
        return self.db.search(q, k=k, ef_search=self.ef)

    def search_batch(self, qs, k):
        return self.db.search_many(qs, k=k, ef_search=self.ef)

    def ids_one(self, raw):
        return [int(r.id) for r in raw]

    def search_one_filtered(self, q, k, flt):
        return self.db.search(q, k=k, ef_search=self.ef, where_filter=flt["where"])

    def search_batch_filtered(self, qs, k, flt):
        return self.db.search_many(qs, k=k, ef_search=self.ef, where_filter=flt["where"])

    def set_quantized(self, on):
        if on:
            self.db.enable_quantized_search()
        else:
            self.db.disable_quantized_search()

    def save(self):
        self.db.save()
        return self.path

    def close(self):
        if getattr(self, "db", None) is not None:
            self.db.close()
            self.db = None

    def reopen(self):
        import quarn

        self.close()
        self.db = quarn.Database(self.path)

    def single_adder(self, capacity):
        db, _ = self._open_new("single")
        self._single_keep = db
        return lambda i, v, meta: db.add(str(i), v, meta)


class QuarnSQ8(Quarn):
    """quarn with SQ8 codes for the graph walk (``quantize=True`` and quantized search): the walk
    reads a quarter of the bytes per row, the final ranking uses exact distances. Not a peer:
    drivers give it a table of its own beside quarn's."""

    name = "quarn-sq8"
    quantized_of = "quarn"
    quantized_kind = None
    note = "quantize=True, quantized search on"
    quantize = True

    def build(self, vectors, metas=None):
        super().build(vectors, metas)
        self.db.enable_quantized_search()

    def reopen(self):
        # A database saved with quantize=True reopens with quantized search on; enabling it
        # again would retrain the quantizer, which a user never needs to do after an open.
        super().reopen()
        if not self.db.quantized_search:
            raise RuntimeError("quantized search is off after reopening a database saved with quantize=True")
