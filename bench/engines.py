"""Common interface of the measured libraries, and quarn's implementation of it.

One ``Engine`` object wraps one index or database. The worker calls, in order:
``build`` (batch insertion), then ``set_ef`` / ``search_one`` / ``search_batch`` for
each beam width, optionally the filtered and quantized variants, ``save`` and
``reopen``, and finally ``single_adder`` for a fresh, separate index.
Search methods return the raw result of the library's call (so that converting
results is not timed) and ``ids_one`` / ``ids_batch`` turn it into row numbers.
"""

from __future__ import annotations

import importlib.util
import os


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
        os.makedirs(workdir, exist_ok=True)

    @classmethod
    def available(cls) -> bool:
        return all(importlib.util.find_spec(m) is not None for m in cls.modules)

    # build
    def build(self, vectors, cats=None) -> None: raise NotImplementedError
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

    # persistence: save returns the path whose size is reported
    def save(self) -> str: raise NotImplementedError
    def reopen(self) -> None: raise NotImplementedError
    save_note = ""

    # single adds into a fresh index: a function add(i, vector, cat or None) timed by the caller
    def single_adder(self, capacity: int): raise NotImplementedError


class Quarn(Engine):
    name = "quarn"
    modules = ("quarn",)
    quantized_kind = "toggle"
    supports_filter = True

    def _metric(self):
        return "euclidean" if self.metric == "l2" else "cosine"

    def _open_new(self, sub):
        import quarn

        path = os.path.join(self.workdir, sub)
        return quarn.Database(path, dim=self.dim, metric=self._metric(), m=16, ef_construction=200), path

    def build(self, vectors, cats=None):
        self.db, self.path = self._open_new("db")
        ids = [str(i) for i in range(len(vectors))]
        metas = None if cats is None else [{"cat": int(c)} for c in cats]
        self.db.add_many(ids, vectors, metas)

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

    def reopen(self):
        import quarn

        self.db = None
        self.db = quarn.Database(self.path)

    def single_adder(self, capacity):
        db, _ = self._open_new("single")
        return lambda i, v, cat: db.add(str(i), v, None if cat is None else {"cat": int(cat)})
