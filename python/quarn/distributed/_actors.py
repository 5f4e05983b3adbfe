"""The Ray actors: one writer per shard directory, and read-only replicas beside it.

Every method answers ("ok", value) or ("err", exception), so that the caller re-raises the
engine's own exception rather than Ray's wrapper of it. Hits travel as (id, distance, metadata)
tuples or as search_many_arrays' arrays, with every hit tied with the k-th (see _nearest).
"""

from __future__ import annotations

import os
import time
from typing import Any, Optional

import numpy as np

import quarn
from quarn.distributed import _nearest


def _reply(fn, *args, **kwargs):
    try:
        return ("ok", fn(*args, **kwargs))
    except Exception as error:  # noqa: BLE001 - handed back to the caller as it is
        return ("err", error)


def _hits(results, include_documents: bool = False) -> list:
    if include_documents:
        return [(r.id, r.distance, r.metadata, r.document) for r in results]
    return [(r.id, r.distance, r.metadata) for r in results]


def _search(db, method: str, queries, k: int = 10, **params):
    """The searches, with answers shaped for the caller's merge."""
    documents = params.get("include_documents", False)
    if method == "search":
        return _nearest.hit_lists(lambda rows, want: [_hits(db.search(rows[0], want, **params), documents)],
                                  [queries], k, len(db))[0]
    if method == "search_many":
        return _nearest.hit_lists(lambda rows, want: [_hits(r, documents) for r in db.search_many(rows, want, **params)],
                                  queries, k, len(db))
    if method == "keyword_statistics_many":
        return [db._keyword_statistics(q) for q in queries]
    if method == "search_keyword_many":
        # queries: (query, the collection's statistics of it) pairs
        return _nearest.hit_lists(
            lambda rows, want: [_hits(db._search_keyword_collection(q, st, want, **params), True) for q, st in rows],
            queries, k, len(db))
    size = len(db)
    return (*_nearest.hit_arrays(lambda rows, want: db.search_many_arrays(rows, want, **params), queries, k, size),
            size)


_SEARCHES = ("search", "search_many", "search_many_arrays", "keyword_statistics_many", "search_keyword_many")


def _records(db, ids: list, include_vectors: bool = True):
    """The present records among ids, each once, in the order given: (ids, vectors or None, metadatas,
    documents)."""
    present = list(dict.fromkeys(i for i in ids if i in db))
    vectors, metadatas, documents = db.get_many(present, include_vectors, include_documents=True)
    return present, vectors, metadatas, documents


def _open_retrying(open_fn, timeout: float):
    """Opens a shard, waiting while the directory is still held by a process on its way out."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            return open_fn()
        except ValueError as error:
            text = str(error).lower()
            held = "already open for writing" in text or "lock" in text
            if not held or time.monotonic() >= deadline:
                raise
            time.sleep(0.1)


class ShardActor:
    """The writer of one shard directory."""

    def __init__(self, path: str, params: dict, open_timeout: float):
        self._path = path
        self._faults: dict = {}
        # An open that fails is reported by ready() and every call, with the engine's own error.
        self._db: Any = None
        self._open_error: Optional[Exception] = None
        try:
            self._db = _open_retrying(lambda: quarn.Database(path, **params), open_timeout)
        except Exception as error:  # noqa: BLE001
            self._open_error = error

    def ready(self):
        return ("err", self._open_error) if self._db is None else ("ok", os.getpid())

    def call(self, method: str, *args, **kwargs):
        if self._db is None:
            return ("err", self._open_error or ValueError("the shard is closed"))
        if method in self._faults:
            fault = self._faults.pop(method)
            if fault is not None:
                return ("err", fault)
            # A crash after the write is logged and before it is acknowledged.
            _reply(getattr(self._db, method), *args, **kwargs)
            os._exit(1)
        if method == "len":
            return _reply(len, self._db)
        if method == "contains":
            return _reply(lambda: args[0] in self._db)
        if method == "properties":
            return _reply(lambda: {"total_slots": self._db.total_slots, "deleted_count": self._db.deleted_count,
                                   "quantized_search": self._db.quantized_search,
                                   "recovery_report": self._db.recovery_report})
        if method in _SEARCHES:
            return _reply(_search, self._db, method, *args, **kwargs)
        return _reply(getattr(self._db, method), *args, **kwargs)

    def existing(self, ids: list):
        return _reply(lambda: [i for i in ids if i in self._db])

    def records(self, ids: list, include_vectors: bool = True):
        """The present records among ids: to read them while others may be deleted meanwhile, and to
        restore them if a batch has to be undone."""
        return _reply(_records, self._db, ids, include_vectors)

    def restore(self, remove: list, ids: list, vectors, metadatas: list, documents: list):
        """Undoes a batch: deletes the ids it created and writes back the records it replaced or deleted."""
        if "restore" in self._faults:
            return ("err", self._faults.pop("restore"))

        def run():
            if remove:
                self._db.delete_many(remove)
            if ids:
                self._db.upsert_many(ids, np.ascontiguousarray(vectors, dtype=np.float32), metadatas,
                                     documents=documents)

        return _reply(run)

    def inject_fault(self, method: str, error: Optional[Exception]):
        """Test hook: the next ``method`` call fails with ``error`` without touching the database, or
        with None, writes and then ends the process before answering."""
        self._faults[method] = error

    def close(self):
        # Closing releases the directory's writer lock for the next owner at once.
        db, self._db = self._db, None
        if db is not None:
            db.close()
        return ("ok", None)


class ReplicaActor:
    """A read-only view of one shard directory (snapshot plus log) beside its writer; serves searches.

    It sees the directory as it was when it last opened it, and reopens when told (after saves).
    """

    def __init__(self, path: str):
        self._path = path
        self._quantized: Optional[bool] = None
        self._db: Any = None
        self._open_error: Optional[Exception] = None
        try:
            self._reopen()
        except Exception as error:  # noqa: BLE001 - reported by ready() and every call
            self._open_error = error

    def ready(self):
        return ("err", self._open_error) if self._db is None else ("ok", os.getpid())

    def _reopen(self) -> None:
        db = quarn.Database(self._path, read_only=True)
        if self._quantized is not None:
            db.enable_quantized_search() if self._quantized else db.disable_quantized_search()
        old, self._db = self._db, db
        if old is not None:
            old.close()

    def reload(self):
        return _reply(self._reopen)

    def set_quantized(self, on: bool):
        self._quantized = on
        return _reply(self._db.enable_quantized_search if on else self._db.disable_quantized_search)

    def call(self, method: str, *args, **kwargs):
        if self._db is None:
            return ("err", self._open_error or ValueError("the replica is closed"))
        if method in _SEARCHES:
            return _reply(_search, self._db, method, *args, **kwargs)
        return _reply(getattr(self._db, method), *args, **kwargs)

    def close(self):
        db, self._db = self._db, None
        if db is not None:
            db.close()
        return ("ok", None)
