"""The database behind a framework vector store: one given, or one opened from a path and, when
none exists there yet, created at the first write, once the embedding's dimension is known."""

from __future__ import annotations

import os
import threading
from typing import Any, Dict, List, Optional, Sequence, Tuple, Union

import numpy as np

from quarn._database import Database

PathLike = Union[str, "os.PathLike[str]"]

# The engine's text when a directory holds no database and no dim was given to create one.
_NOT_FOUND = "database not found"


class StoreDatabase:
    """Holds the store's Database; reads before the first write see an empty store."""

    def __init__(
        self,
        path: Optional[PathLike],
        database: Optional[Database],
        metric: Optional[str],
        open_args: Dict[str, Any],
    ) -> None:
        if (path is None) == (database is None):
            raise ValueError("give exactly one of path and database")
        self._lock = threading.Lock()
        self._path = path
        self._metric = metric
        self._open_args = open_args
        self._owned = database is None
        self._db: Optional[Database] = database
        if path is not None:
            try:  # opens what is there; creates only when open_args holds dim
                self._db = Database(path, metric=metric, **open_args)
            except ValueError as error:
                if not str(error).startswith(_NOT_FOUND) or open_args.get("read_only"):
                    raise

    @property
    def database(self) -> Optional[Database]:
        """The database, or None while a path holds none yet."""
        return self._db

    @property
    def metric(self) -> str:
        return self._db.metric if self._db is not None else (self._metric or "cosine")

    def for_writing(self, dim: int) -> Database:
        """The database, created with this dimension if the path holds none yet."""
        with self._lock:
            if self._db is None:
                assert self._path is not None  # set whenever no database was given
                self._db = Database(self._path, dim=dim, metric=self._metric, **self._open_args)
            return self._db

    def write(self, ids: List[str], vectors: Any, metadatas: Sequence[Optional[Dict[str, Any]]],
              texts: Sequence[Optional[str]]) -> None:
        """Add or replace the records in one all-or-nothing batch."""
        if not ids:
            return
        array = np.asarray(vectors, dtype=np.float32)
        if array.ndim != 2 or array.shape[0] != len(ids):
            raise ValueError(f"the embedding returned {array.shape[0] if array.ndim else 0} vectors "
                             f"for {len(ids)} texts")
        self.for_writing(array.shape[1]).upsert_many(ids, array, list(metadatas), documents=list(texts))

    def present(self, ids: Sequence[str]) -> List[str]:
        """The ids that are stored, in the order given."""
        db = self._db
        return [] if db is None else [id_ for id_ in ids if id_ in db]

    def read(self, ids: Sequence[str]) -> List[Tuple[str, Optional[Dict[str, Any]], Optional[str]]]:
        """(id, metadata, document) of the stored ids among those given, in their order."""
        db = self._db
        found = self.present(ids)
        if db is None or not found:
            return []
        try:
            _, metadatas, documents = db.get_many(found, include_vectors=False, include_documents=True)
        except ValueError:  # one was deleted since present() looked: read the rest one by one
            return [row for id_ in found for row in self.read_one(id_)]
        return list(zip(found, metadatas, documents))

    def read_one(self, id_: str) -> List[Tuple[str, Optional[Dict[str, Any]], Optional[str]]]:
        db = self._db
        if db is None:
            return []
        try:
            _, metadatas, documents = db.get_many([id_], include_vectors=False, include_documents=True)
        except ValueError:
            return []
        return [(id_, metadatas[0], documents[0])]

    def delete(self, ids: Sequence[str]) -> int:
        """Delete the stored ids among those given; missing ones are skipped."""
        db = self._db
        return db.delete_many(list(ids)) if db is not None and ids else 0

    def close(self) -> None:
        """Close the database if this store opened it; one passed in stays open."""
        if self._owned and self._db is not None:
            self._db.close()


def distances(metric: str, vectors: Any, query: Any) -> Any:
    """The engine's distances from query to each row of vectors, in float64."""
    v = np.asarray(vectors, dtype=np.float64)
    q = np.asarray(query, dtype=np.float64)
    if metric == "cosine":
        norms = np.linalg.norm(v, axis=1) * np.linalg.norm(q)
        return 1.0 - (v @ q) / np.where(norms > 0, norms, 1.0)
    if metric in ("dot_product", "dot", "ip"):
        return -(v @ q)
    return np.sum((v - q) ** 2, axis=1)


def relevance(metric: str, distance: float) -> float:
    """A similarity from an engine distance, larger is nearer: the cosine similarity, the inner
    product, or 1 / (1 + squared Euclidean distance)."""
    if metric == "cosine":
        return 1.0 - distance
    if metric in ("dot_product", "dot", "ip"):
        return -distance
    return 1.0 / (1.0 + distance)
