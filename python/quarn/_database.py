"""The Database class: the engine's methods plus progress reports, iteration and NumPy results."""

from __future__ import annotations

from typing import Any, Dict, Iterator, List, Literal, NamedTuple, Optional, Sequence

import _quarn
import numpy as np
import numpy.typing as npt

from quarn import _text
from quarn._progress import Progress, Reporter

Metadata = Dict[str, Any]


class Record(NamedTuple):
    """One stored record, as iteration yields it."""

    id: str
    vector: Optional[npt.NDArray[np.float32]]
    metadata: Optional[Metadata]


class SearchArrays(NamedTuple):
    """Batch search results as arrays: row i holds counts[i] hits, the rest is '' and inf."""

    ids: npt.NDArray[np.str_]
    distances: npt.NDArray[np.float32]
    counts: npt.NDArray[np.int64]


class Database(_text.TextMethods, _quarn.Database):
    __doc__ = _quarn.Database.__doc__

    def __new__(
        cls,
        path: Any,
        dim: Optional[int] = None,
        metric: Optional[str] = None,
        m: Optional[int] = None,
        ef_construction: Optional[int] = None,
        quantize: bool = False,
        read_only: bool = False,
        *,
        durability: Literal["flush", "sync"] = "flush",
        keyword: Optional[Dict[str, Any]] = None,
        recover: bool = False,
        vectors_in_memory: Optional[bool] = None,
        embedding: Optional[_text.Embedding] = None,
    ) -> "Database":
        """embedding ("minilm", another registered name, or an EmbeddingFunction) gives the
        database its function for add_texts and search_text: dim and the metric default come
        from it, and it is recorded in the directory, to be used again on every open."""
        fn, dim, metric = _text.prepare(path, embedding, dim, metric)
        self = super().__new__(cls, path, dim, metric, m, ef_construction, quantize, read_only,
                               durability=durability, keyword=keyword, recover=recover,
                               vectors_in_memory=vectors_in_memory)
        try:
            self._text = _text.open_embedding(self.path, self.dim, self.metric, self.read_only, fn)
        except BaseException:
            self.close()
            raise
        return self

    def add_many(
        self,
        ids: Sequence[str],
        vectors: Any,
        metadatas: Optional[List[Optional[Metadata]]] = None,
        *,
        progress: Progress = None,
        documents: Optional[List[Optional[str]]] = None,
    ) -> None:
        """Add new records in one all-or-nothing batch. Every id must be new and appear once;
        vectors is a 2-D numeric array or a sequence of sequences; metadatas a list of dicts
        and Nones as long as ids; documents a list of str and Nones as long as ids.

        progress=True shows a tqdm bar (when tqdm is installed); a callable is called as
        progress(rows_done, rows_total) in steps of about 1% while the records are linked into
        the graph, and last with rows_done == rows_total. The batch stays one unit in the log
        either way. An exception raised by the callable stops the reports but not the write:
        the batch is written in full, then the exception is raised."""
        with Reporter(progress, _length(ids), "add_many") as report:
            super().add_many(ids, vectors, metadatas, progress=report.callback, documents=documents)

    def upsert_many(
        self,
        ids: Sequence[str],
        vectors: Any,
        metadatas: Optional[List[Optional[Metadata]]] = None,
        *,
        progress: Progress = None,
        documents: Optional[List[Optional[str]]] = None,
    ) -> None:
        """Add or replace records in one all-or-nothing batch; for an id given twice the last
        occurrence wins. progress works as for add_many."""
        with Reporter(progress, _length(ids), "upsert_many") as report:
            super().upsert_many(ids, vectors, metadatas, progress=report.callback, documents=documents)

    def search_many_arrays(
        self,
        vectors: Any,
        k: int = 10,
        ef_search: Optional[int] = None,
        where_filter: Optional[Dict[str, Any]] = None,
        max_distance: Optional[float] = None,
    ) -> SearchArrays:
        """search_many with NumPy results and no Python object per hit: SearchArrays(ids,
        distances, counts), a str array of shape (n, k), a float32 array of shape (n, k) and an
        int64 array of shape (n,). Row i holds counts[i] hits; the rest of it is '' and inf."""
        return SearchArrays(*super().search_many_arrays(vectors, k, ef_search, where_filter, max_distance))

    def records(self, batch_size: int = 1024, include_vectors: bool = True) -> Iterator[Record]:
        """Every record as Record(id, vector, metadata), read batch_size at a time. The ids are
        those live when the iteration starts; a record deleted meanwhile is skipped."""
        if batch_size < 1:
            raise ValueError(f"batch_size must be at least 1, got {batch_size}")
        ids = self.ids()
        for start in range(0, len(ids), batch_size):
            part = ids[start:start + batch_size]
            try:
                vectors, metadatas = self.get_many(part, include_vectors=include_vectors)
            except ValueError:
                yield from self._records_one_by_one(part, include_vectors)
                continue
            for row, (id_, metadata) in enumerate(zip(part, metadatas)):
                yield Record(id_, vectors[row] if vectors is not None else None, metadata)

    def __iter__(self) -> Iterator[Record]:
        """Iterate over every record: for id, vector, metadata in db: ..."""
        return self.records()

    def _records_one_by_one(self, ids: List[str], include_vectors: bool) -> Iterator[Record]:
        for id_ in ids:
            try:
                vector, metadata = self.get(id_)
            except ValueError:
                continue  # deleted since the iteration started
            yield Record(id_, np.asarray(vector, dtype=np.float32) if include_vectors else None, metadata)


Database.__module__ = "quarn"


def _length(ids: Sequence[str]) -> Optional[int]:
    """The batch's length for a progress bar, when the ids know it."""
    try:
        return len(ids)
    except TypeError:
        return None
