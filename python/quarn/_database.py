"""The Database class: the engine's methods plus progress reports, iteration and NumPy results."""

from __future__ import annotations

import contextlib
import re
from typing import Any, Callable, Dict, Iterator, List, NamedTuple, Optional, Sequence, Tuple

import numpy as np
import numpy.typing as npt

from quarn import _quarn
from quarn._progress import Progress, Reporter

Metadata = Dict[str, Any]

# Rows per engine call when a batch write reports progress: about 1% of the batch, but never
# so few that the parallel linking of one call has too little to share out.
_MIN_CHUNK = 1024


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


class Database(_quarn.Database):
    __doc__ = _quarn.Database.__doc__

    def add_many(
        self,
        ids: Sequence[str],
        vectors: Any,
        metadatas: Optional[List[Optional[Metadata]]] = None,
        *,
        progress: Progress = None,
    ) -> None:
        """Add new records in one all-or-nothing batch. Every id must be new and appear once;
        vectors is a 2-D numeric array or a sequence of sequences; metadatas a list of dicts
        and Nones as long as ids.

        progress=True shows a tqdm bar (when tqdm is installed); a callable is called as
        progress(rows_done, rows_total). With progress the rows are written in chunks, and a
        failing chunk makes the call delete the chunks it wrote before raising."""
        if not progress:
            return super().add_many(ids, vectors, metadatas)
        ids, metadatas = self._check_batch(ids, vectors, metadatas, new=True)
        written: List[str] = []

        def write(start: int, stop: int) -> None:
            _quarn.Database.add_many(self, ids[start:stop], vectors[start:stop], _part(metadatas, start, stop))
            written.extend(ids[start:stop])

        def undo() -> None:
            if written:
                _quarn.Database.delete_many(self, written)

        _write_in_chunks(len(ids), "add_many", progress, write, undo)

    def upsert_many(
        self,
        ids: Sequence[str],
        vectors: Any,
        metadatas: Optional[List[Optional[Metadata]]] = None,
        *,
        progress: Progress = None,
    ) -> None:
        """Add or replace records in one all-or-nothing batch; for an id given twice the last
        occurrence wins. progress works as for add_many; a failing chunk makes the call put back
        the records it replaced and delete the ones it added before raising."""
        if not progress:
            return super().upsert_many(ids, vectors, metadatas)
        ids, metadatas = self._check_batch(ids, vectors, metadatas, new=False)
        saved: List[Tuple[List[str], List[str], Any, List[Optional[Metadata]]]] = []
        base = _quarn.Database

        def write(start: int, stop: int) -> None:
            part = ids[start:stop]
            distinct = list(dict.fromkeys(part))
            old = [i for i in distinct if i in self]
            known = set(old)
            old_vectors, old_metadata = base.get_many(self, old) if old else (None, [])
            saved.append(([i for i in distinct if i not in known], old, old_vectors, old_metadata))
            base.upsert_many(self, part, vectors[start:stop], _part(metadatas, start, stop))

        def undo() -> None:
            for new, old, old_vectors, old_metadata in reversed(saved):
                base.delete_many(self, new)
                if old:
                    base.upsert_many(self, old, old_vectors, old_metadata)

        _write_in_chunks(len(ids), "upsert_many", progress, write, undo)

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

    def _check_batch(
        self, ids: Sequence[str], vectors: Any, metadatas: Optional[List[Optional[Metadata]]], new: bool
    ) -> Tuple[List[str], Optional[List[Optional[Metadata]]]]:
        """The checks the engine makes before writing a batch, made once for the whole batch,
        so that a chunked write fails before its first chunk wherever the engine would."""
        if isinstance(ids, str):
            raise TypeError("argument 'ids': a str is not accepted as a sequence of str")
        id_list = list(ids)
        for row, id_ in enumerate(id_list):
            if not isinstance(id_, str):
                raise TypeError(f"argument 'ids': item {row}: expected str, not '{type(id_).__name__}'")
        if len(id_list) != len(vectors):
            raise ValueError(f"ids length ({len(id_list)}) != vectors length ({len(vectors)})")
        if metadatas is not None:
            metadatas = list(metadatas)
            if len(metadatas) != len(id_list):
                raise ValueError(f"metadatas length ({len(metadatas)}) != ids length ({len(id_list)})")
        dim = self.dim
        for row in range(len(id_list)):
            if len(vectors[row]) != dim:
                raise ValueError(f"vectors[{row}]: dimension mismatch: expected {dim}, got {len(vectors[row])}")
        if new:
            first: Dict[str, int] = {}
            for row, id_ in enumerate(id_list):
                if id_ in first:
                    raise ValueError(f"id '{id_}' appears twice in the batch (rows {first[id_]} and {row}); "
                                     "add_many takes each id once")
                first[id_] = row
                if id_ in self:
                    raise ValueError(f"id '{id_}' already exists, use upsert instead")
        return id_list, metadatas


Database.__module__ = "quarn"


def _write_in_chunks(
    total: int, label: str, progress: Progress, write: Callable[[int, int], None], undo: Callable[[], None]
) -> None:
    """Calls write(start, stop) chunk by chunk, reporting progress; on any failure calls undo()
    and raises the failure with its row numbers counted from the start of the whole batch."""
    size = max(_MIN_CHUNK, -(-total // 100))
    with Reporter(progress, total, label) as report:
        try:
            for start in range(0, total, size):
                stop = min(total, start + size)
                with _rows_from(start):
                    write(start, stop)
                report.advance(stop - start)
        except BaseException:
            undo()
            raise


def _part(metadatas: Optional[List[Optional[Metadata]]], start: int, stop: int) -> Optional[List[Optional[Metadata]]]:
    return None if metadatas is None else metadatas[start:stop]


_ROW = re.compile(r"(metadatas|vectors)\[(\d+)\]")


@contextlib.contextmanager
def _rows_from(start: int) -> Iterator[None]:
    """Renumbers the row named in an error of one chunk as a row of the whole batch."""
    try:
        yield
    except (ValueError, TypeError) as err:
        message = str(err)
        renumbered = _ROW.sub(lambda m: f"{m.group(1)}[{int(m.group(2)) + start}]", message, count=1)
        if renumbered == message:
            raise
        raise type(err)(renumbered) from None
