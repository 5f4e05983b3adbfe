import os
from types import TracebackType
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple, Type, Union, overload

import numpy as np
import numpy.typing as npt
from typing_extensions import Literal, Self, TypeAlias, TypedDict, disjoint_base, final

# A real NumPy array of any float, integer or boolean dtype, as the engine accepts at run time.
_RealArray: TypeAlias = npt.NDArray[Union[np.floating[Any], np.integer[Any], np.bool_]]
# A single vector: a sequence of numbers or a one-dimensional real array.
_VectorLike: TypeAlias = Union[Sequence[float], _RealArray]
# A batch of vectors: a two-dimensional real array or a sequence of vectors.
_BatchVectorLike: TypeAlias = Union[_RealArray, Sequence[_VectorLike]]
_Metadata: TypeAlias = Dict[str, Any]
_WhereFilter: TypeAlias = Dict[str, Any]
# {"$contains": str}, {"$not_contains": str}, {"$and": [...]} or {"$or": [...]}.
_WhereDocument: TypeAlias = Dict[str, Any]
# {"stemmer": "english" | None, "stop_words": "english" | None, "k1": float, "b": float}
_KeywordSettings: TypeAlias = Dict[str, Any]
_PathLike: TypeAlias = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

class _RecoveryNote(TypedDict):
    """One thing an open left out or found damaged (Database.recovery_report)."""

    file: str
    kind: Literal["torn_tail", "damage", "checksum"]
    offset: int
    bytes: int
    records: int
    message: str

class _FileCheck(TypedDict):
    """What Database.verify_files found."""

    checked: bool
    generation: Optional[int]
    files: int
    bytes: int
    problems: List[str]

@final
class SearchResult(Tuple[str, float, Optional[_Metadata]]):
    """One nearest-neighbour hit: .id, .distance (smaller is nearer), .metadata, .vector and .document.
    It also indexes and unpacks like the tuple (id, distance, metadata)."""

    @property
    def id(self) -> str: ...
    @property
    def distance(self) -> float: ...
    @property
    def metadata(self) -> Optional[_Metadata]:
        """The hit's metadata as a new dict at every access, or None when it has none."""
    @property
    def vector(self) -> Optional[npt.NDArray[np.float32]]:
        """The hit's vector as a float32 array when the search asked for include_vectors, else None."""
    @property
    def document(self) -> Optional[str]:
        """The hit's document when the search asked for include_documents and it has one, else None."""

@disjoint_base
class Database:
    """A vector database in the directory `path` (str or os.PathLike)."""

    def __new__(
        cls,
        path: _PathLike,
        dim: Optional[int] = None,
        metric: Optional[str] = None,
        m: Optional[int] = None,
        ef_construction: Optional[int] = None,
        quantize: bool = False,
        read_only: bool = False,
        *,
        durability: Literal["flush", "sync"] = "flush",
        keyword: Optional[_KeywordSettings] = None,
        recover: bool = False,
        vectors_in_memory: Optional[bool] = None,
    ) -> Self: ...
    def add(
        self, id: str, vector: _VectorLike, metadata: Optional[_Metadata] = None, document: Optional[str] = None
    ) -> None: ...
    def upsert(
        self, id: str, vector: _VectorLike, metadata: Optional[_Metadata] = None, document: Optional[str] = None
    ) -> None: ...
    def add_many(
        self,
        ids: Sequence[str],
        vectors: _BatchVectorLike,
        metadatas: Optional[List[Optional[_Metadata]]] = None,
        *,
        progress: Optional[Callable[[int, int], object]] = None,
        documents: Optional[List[Optional[str]]] = None,
    ) -> None: ...
    def upsert_many(
        self,
        ids: Sequence[str],
        vectors: _BatchVectorLike,
        metadatas: Optional[List[Optional[_Metadata]]] = None,
        *,
        progress: Optional[Callable[[int, int], object]] = None,
        documents: Optional[List[Optional[str]]] = None,
    ) -> None: ...
    def update(
        self,
        id: str,
        vector: Optional[_VectorLike] = None,
        metadata: Optional[_Metadata] = None,
        document: Optional[str] = ...,
    ) -> None: ...
    def get(self, id: str) -> Tuple[List[float], Optional[_Metadata]]: ...
    @overload
    def get_many(
        self, ids: Sequence[str], include_vectors: bool = True, include_documents: Literal[False] = False
    ) -> Tuple[Optional[npt.NDArray[np.float32]], List[Optional[_Metadata]]]: ...
    @overload
    def get_many(
        self, ids: Sequence[str], include_vectors: bool = True, *, include_documents: Literal[True]
    ) -> Tuple[Optional[npt.NDArray[np.float32]], List[Optional[_Metadata]], List[Optional[str]]]: ...
    def delete(self, id: str) -> bool: ...
    def delete_many(self, ids: Sequence[str]) -> int: ...
    def delete_where(self, where_filter: _WhereFilter) -> int: ...
    def search(
        self,
        vector: _VectorLike,
        k: int = 10,
        ef_search: Optional[int] = None,
        where_filter: Optional[_WhereFilter] = None,
        max_distance: Optional[float] = None,
        include_vectors: bool = False,
        include_documents: bool = False,
        *,
        where_document: Optional[_WhereDocument] = None,
        rerank: Optional[int] = None,
    ) -> List[SearchResult]: ...
    def search_many(
        self,
        vectors: _BatchVectorLike,
        k: int = 10,
        ef_search: Optional[int] = None,
        where_filter: Optional[_WhereFilter] = None,
        max_distance: Optional[float] = None,
        include_vectors: bool = False,
        include_documents: bool = False,
        *,
        where_document: Optional[_WhereDocument] = None,
        rerank: Optional[int] = None,
    ) -> List[List[SearchResult]]: ...
    def search_keyword(
        self,
        query: str,
        k: int = 10,
        where_filter: Optional[_WhereFilter] = None,
        where_document: Optional[_WhereDocument] = None,
    ) -> List[SearchResult]: ...
    def search_keyword_many(
        self,
        queries: Sequence[str],
        k: int = 10,
        where_filter: Optional[_WhereFilter] = None,
        where_document: Optional[_WhereDocument] = None,
    ) -> List[List[SearchResult]]: ...
    def search_hybrid(
        self,
        vector: _VectorLike,
        query: str,
        k: int = 10,
        ef_search: Optional[int] = None,
        where_filter: Optional[_WhereFilter] = None,
        where_document: Optional[_WhereDocument] = None,
        fusion: Literal["rrf", "weighted"] = "rrf",
        weight: float = 0.5,
    ) -> List[SearchResult]: ...
    def search_hybrid_many(
        self,
        vectors: _BatchVectorLike,
        queries: Sequence[str],
        k: int = 10,
        ef_search: Optional[int] = None,
        where_filter: Optional[_WhereFilter] = None,
        where_document: Optional[_WhereDocument] = None,
        fusion: Literal["rrf", "weighted"] = "rrf",
        weight: float = 0.5,
    ) -> List[List[SearchResult]]: ...
    def search_many_arrays(
        self,
        vectors: _BatchVectorLike,
        k: int = 10,
        ef_search: Optional[int] = None,
        where_filter: Optional[_WhereFilter] = None,
        max_distance: Optional[float] = None,
    ) -> Tuple[npt.NDArray[np.str_], npt.NDArray[np.float32], npt.NDArray[np.int64]]: ...
    def count(
        self, where_filter: Optional[_WhereFilter] = None, *, where_document: Optional[_WhereDocument] = None
    ) -> int: ...
    def ids(
        self,
        where: Optional[_WhereFilter] = None,
        limit: Optional[int] = None,
        offset: int = 0,
        *,
        where_document: Optional[_WhereDocument] = None,
    ) -> List[str]: ...
    def save(self) -> None: ...
    def sync(self) -> None: ...
    def backup(self, dest: _PathLike) -> None: ...
    def compact(self) -> None: ...
    def verify(self) -> List[str]: ...
    def verify_files(self) -> _FileCheck: ...
    def enable_quantized_search(self) -> None: ...
    def disable_quantized_search(self) -> None: ...
    def stats(self) -> Dict[str, Union[int, float, bool]]: ...
    def close(self) -> None: ...
    @property
    def path(self) -> str: ...
    @property
    def dim(self) -> int: ...
    @property
    def metric(self) -> str: ...
    @property
    def total_slots(self) -> int: ...
    @property
    def deleted_count(self) -> int: ...
    @property
    def m(self) -> int: ...
    @property
    def ef_construction(self) -> int: ...
    @property
    def quantized_search(self) -> bool: ...
    @property
    def vectors_in_memory(self) -> bool: ...
    @property
    def read_only(self) -> bool: ...
    @property
    def durability(self) -> Literal["flush", "sync"]: ...
    @property
    def keyword(self) -> Dict[str, Any]: ...
    @property
    def recovery_report(self) -> List[_RecoveryNote]: ...
    @property
    def closed(self) -> bool: ...
    def __len__(self) -> int: ...
    def __contains__(self, key: object, /) -> bool: ...
    def __enter__(self) -> Self: ...
    def __exit__(
        self,
        _exc_type: Optional[Type[BaseException]] = None,
        _exc_val: Optional[BaseException] = None,
        _exc_tb: Optional[TracebackType] = None,
    ) -> Literal[False]: ...

def tokenize(text: str) -> List[str]:
    """The terms the keyword index makes of text with the default settings, in order
    and with repeats: runs of Unicode letters and digits, case-folded."""
