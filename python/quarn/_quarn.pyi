from types import TracebackType
from typing import Any, Dict, List, Optional, Sequence, Tuple, Type, Union

import numpy as np
import numpy.typing as npt

# A single vector: a sequence of numbers or a one-dimensional float32 array.
VectorLike = Union[Sequence[float], npt.NDArray[np.float32]]
# A batch of vectors: a two-dimensional float32 array or a sequence of sequences of numbers.
BatchVectorLike = Union[npt.NDArray[np.float32], Sequence[Sequence[float]]]
Metadata = Dict[str, Any]
WhereFilter = Dict[str, Any]

class SearchResult:
    """One nearest-neighbour hit; also unpacks as ``id, distance, metadata = result``."""

    @property
    def id(self) -> str: ...
    @property
    def distance(self) -> float: ...
    @property
    def metadata(self) -> Optional[Metadata]:
        """The hit's metadata, parsed anew at every access (None when it has none)."""
    def __getitem__(self, index: int) -> Union[str, float, Optional[Metadata]]:
        """0 gives id, 1 distance, 2 metadata; other indices raise IndexError."""

class Database:
    def __init__(
        self,
        path: str,
        dim: Optional[int] = None,
        metric: Optional[str] = None,
        m: Optional[int] = None,
        ef_construction: Optional[int] = None,
        quantize: bool = False,
        read_only: bool = False,
    ) -> None: ...
    def add(self, id: str, vector: VectorLike, metadata: Optional[Metadata] = None) -> None: ...
    def upsert(self, id: str, vector: VectorLike, metadata: Optional[Metadata] = None) -> None:
        """Add or update a vector."""
    def add_many(
        self, ids: Sequence[str], vectors: BatchVectorLike, metadatas: Optional[List[Optional[Metadata]]] = None
    ) -> None: ...
    def search(
        self,
        vector: VectorLike,
        k: int = 10,
        ef_search: Optional[int] = None,
        where_filter: Optional[WhereFilter] = None,
        max_distance: Optional[float] = None,
    ) -> List[SearchResult]:
        """Search for the k nearest neighbors."""
    def search_many(
        self,
        vectors: BatchVectorLike,
        k: int = 10,
        ef_search: Optional[int] = None,
        where_filter: Optional[WhereFilter] = None,
        max_distance: Optional[float] = None,
    ) -> List[List[SearchResult]]:
        """Search multiple queries in parallel. Returns list of list of SearchResult."""
    def get(self, id: str) -> Tuple[List[float], Optional[Metadata]]: ...
    def delete(self, id: str) -> bool: ...
    def delete_many(self, ids: Sequence[str]) -> int: ...
    def update(self, id: str, vector: Optional[VectorLike] = None, metadata: Optional[Metadata] = None) -> None: ...
    def upsert_many(
        self, ids: Sequence[str], vectors: BatchVectorLike, metadatas: Optional[List[Optional[Metadata]]] = None
    ) -> None:
        """Batch upsert — inserts new vectors, updates existing ones."""
    def count(self, where_filter: Optional[WhereFilter] = None) -> int:
        """Count vectors matching a filter, or all vectors if no filter."""
    def ids(self) -> List[str]: ...
    def save(self) -> None: ...
    def compact(self) -> None:
        """Rebuild the index with only live vectors, reclaiming deleted slots."""
    def enable_quantized_search(self) -> None:
        """Enable quantized search: uses SQ8 quantized vectors for faster HNSW traversal."""
    def disable_quantized_search(self) -> None:
        """Disable quantized search."""
    def stats(self) -> Dict[str, Union[int, float, bool]]:
        """Get graph-level statistics for diagnostics."""
    def close(self) -> None:
        """Release the database: the log is closed and the directory's writer lock freed; nothing
        is saved. Calling it again does nothing; any other use afterwards raises ValueError."""
    @property
    def dim(self) -> int: ...
    @property
    def metric(self) -> str: ...
    @property
    def total_slots(self) -> int:
        """Total allocated slots (active + deleted)."""
    @property
    def deleted_count(self) -> int:
        """Number of deleted slots that haven't been reclaimed."""
    @property
    def quantized_search(self) -> bool:
        """Whether quantized search is currently enabled."""
    @property
    def read_only(self) -> bool:
        """Whether the database was opened with read_only=True."""
    @property
    def closed(self) -> bool:
        """Whether close() has been called."""
    def __len__(self) -> int: ...
    def __contains__(self, id: str) -> bool: ...
    def __enter__(self) -> "Database":
        """Context manager: auto-save and close on exit."""
    def __exit__(
        self,
        _exc_type: Optional[Type[BaseException]] = None,
        _exc_val: Optional[BaseException] = None,
        _exc_tb: Optional[TracebackType] = None,
    ) -> bool: ...
