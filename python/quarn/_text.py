"""Text in, text out: a database that embeds documents and queries with the function it records."""

from __future__ import annotations

import os
from typing import TYPE_CHECKING, Any, Callable, Dict, List, Optional, Sequence, Union

import _quarn
import numpy as np
import numpy.typing as npt

from quarn import _embedding_record
from quarn._progress import Progress, Reporter

if TYPE_CHECKING:  # quarn.embeddings loads only when a database is given a function or uses one
    from quarn.embeddings import EmbeddingFunction

Metadata = Dict[str, Any]
Embedding = Union[str, "EmbeddingFunction"]
# Texts embedded per call of the function: bounds its working memory and sets the steps of the
# progress reports.
EMBED_BATCH = 256

_METRIC_NAMES = {"l2": "euclidean", "dot": "dot_product"}


def _metric_name(metric: str) -> str:
    return _METRIC_NAMES.get(metric, metric)


def _embeddings() -> Any:
    import quarn.embeddings
    return quarn.embeddings


def _label(record: Dict[str, Any]) -> str:
    return (f"{record['name']!r} (config {record['config']}, dim {record['dim']}, "
            f"fingerprint {record['fingerprint']})")


def check_recorded(directory: str, recorded: Optional[Dict[str, Any]], given: Dict[str, Any]) -> None:
    """ValueError naming both when the database records another function than the one given."""
    if recorded is not None and _embedding_record.normalised(recorded) != _embedding_record.normalised(given):
        raise ValueError(f"the database at {directory!r} embeds with {_label(recorded)}, "
                         f"not with the given {_label(given)}")


def settle_shape(fn: EmbeddingFunction, dim: Optional[int], metric: Optional[str]) -> tuple[int, str]:
    """dim and metric for a database embedding with ``fn``: its own, or the given ones when they agree."""
    if dim is not None and dim != fn.dim:
        raise ValueError(f"dim={dim} disagrees with the embedding {fn.name!r}, which gives {fn.dim}")
    declared = getattr(fn, "metric", None)
    if metric is not None and declared is not None and _metric_name(metric) != _metric_name(declared):
        raise ValueError(f"metric={metric!r} disagrees with the embedding {fn.name!r}, made for {declared!r}")
    return int(fn.dim), metric if metric is not None else (declared or "cosine")


class EmbeddingState:
    """A database's embedding function: the record, and the function, built when first needed."""

    def __init__(self, directory: str, record: Optional[Dict[str, Any]], fn: Optional[EmbeddingFunction]) -> None:
        self.directory = directory
        self.record = record
        self._fn = fn

    def function(self) -> Optional[EmbeddingFunction]:
        if self._fn is None and self.record is not None:
            fn = _embeddings().from_config(self.record["name"], self.record["config"])
            if fn.dim != self.record["dim"] or _embeddings().fingerprint(fn) != self.record["fingerprint"]:
                raise ValueError(f"the database at {self.directory!r} embeds with {_label(self.record)}, "
                                 f"but that function here is {_label(_embeddings().describe(fn))}")
            self._fn = fn
        return self._fn

    def require(self, call: str) -> EmbeddingFunction:
        fn = self.function()
        if fn is None:
            raise ValueError(f"{call} needs an embedding function, and the database at {self.directory!r} "
                             "records none: open it with embedding='minilm' or an EmbeddingFunction")
        return fn


def open_embedding(directory: str, dim: int, metric: str, read_only: bool,
                   fn: Optional[EmbeddingFunction]) -> EmbeddingState:
    """Checks an opened database of ``dim`` and ``metric`` against its record and ``fn``; a writer
    records ``fn`` if it is the first function the database is given."""
    recorded = _embedding_record.read(directory)
    if fn is None:
        return EmbeddingState(directory, recorded, None)
    given = _embeddings().describe(fn)
    check_recorded(directory, recorded, given)
    if dim != fn.dim:
        raise ValueError(f"the database at {directory!r} holds {dim}-dimensional vectors; "
                         f"the embedding {fn.name!r} gives {fn.dim}")
    declared = getattr(fn, "metric", None)
    if declared is not None and _metric_name(declared) != metric:
        raise ValueError(f"the database at {directory!r} measures {metric}; "
                         f"the embedding {fn.name!r} is made for {declared!r}")
    if recorded is None and not read_only:
        _embedding_record.write(directory, given)
    return EmbeddingState(directory, given, fn)


class _Failure:
    """The first exception a progress callable raised: reports stop, the write goes on."""

    def __init__(self, callback: Optional[Callable[[int, int], object]]) -> None:
        self.callback = callback
        self.error: Optional[BaseException] = None

    def report(self, done: int, total: int) -> None:
        if self.callback is None or self.error is not None:
            return
        try:
            self.callback(done, total)
        except Exception as e:  # raised after the write, as add_many does
            self.error = e


def embed_all(fn: EmbeddingFunction, texts: List[str], query: bool,
              report: Optional[Callable[[int], None]] = None) -> npt.NDArray[np.float32]:
    """Embeddings of ``texts`` EMBED_BATCH at a time, as one (len(texts), dim) float32 array."""
    out = np.empty((len(texts), fn.dim), np.float32)
    for start in range(0, len(texts), EMBED_BATCH):
        stop = min(start + EMBED_BATCH, len(texts))
        out[start:stop] = _embeddings().embed(fn, texts[start:stop], query=query)
        if report is not None:
            report(stop)
    return out


class TextMethods:
    """Writes and searches by text. Mixed into Database before the engine's class."""

    _text: EmbeddingState

    @property
    def embedding(self) -> Optional[EmbeddingFunction]:
        """The function this database embeds documents and queries with, or None."""
        return self._text.function()

    def add_texts(
        self,
        ids: Sequence[str],
        documents: Sequence[str],
        metadatas: Optional[List[Optional[Metadata]]] = None,
        *,
        progress: Progress = None,
    ) -> None:
        """Embed documents with the database's function and add them as new records, with the
        documents stored, in one all-or-nothing batch as add_many.

        progress=True shows a tqdm bar, and a callable is called as progress(done, total), over
        both stages: total is twice the number of records, the first half of the steps counting
        texts embedded and the second records linked into the graph."""
        self._write_texts("add_texts", ids, documents, metadatas, progress, upsert=False)

    def upsert_texts(
        self,
        ids: Sequence[str],
        documents: Sequence[str],
        metadatas: Optional[List[Optional[Metadata]]] = None,
        *,
        progress: Progress = None,
    ) -> None:
        """add_texts that adds or replaces records, as upsert_many."""
        self._write_texts("upsert_texts", ids, documents, metadatas, progress, upsert=True)

    def search_text(
        self,
        query: str,
        k: int = 10,
        where_filter: Optional[Dict[str, Any]] = None,
        where_document: Optional[Dict[str, Any]] = None,
        *,
        ef_search: Optional[int] = None,
        max_distance: Optional[float] = None,
        include_vectors: bool = False,
        include_documents: bool = True,
    ) -> List[_quarn.SearchResult]:
        """search with the vector of the query text, embedded by the database's function; the
        hits carry their documents unless include_documents=False."""
        fn = self._text.require("search_text")
        vector = _embeddings().embed(fn, _embeddings().as_texts([query]), query=True)[0]
        return self.search(vector, k, ef_search=ef_search, where_filter=where_filter,  # type: ignore[attr-defined, no-any-return]
                           max_distance=max_distance, include_documents=include_documents,
                           **_options(include_vectors, where_document))

    def search_text_many(
        self,
        queries: Sequence[str],
        k: int = 10,
        where_filter: Optional[Dict[str, Any]] = None,
        where_document: Optional[Dict[str, Any]] = None,
        *,
        ef_search: Optional[int] = None,
        max_distance: Optional[float] = None,
        include_vectors: bool = False,
        include_documents: bool = True,
    ) -> List[List[_quarn.SearchResult]]:
        """search_text for each query, as search_many: one list of hits per query."""
        fn = self._text.require("search_text_many")
        texts = _embeddings().as_texts(queries)
        if not texts:
            return []
        vectors = embed_all(fn, texts, query=True)
        return self.search_many(vectors, k, ef_search=ef_search, where_filter=where_filter,  # type: ignore[attr-defined, no-any-return]
                                max_distance=max_distance, include_documents=include_documents,
                                **_options(include_vectors, where_document))

    def search_hybrid(
        self,
        vector: Any = None,
        query: Optional[str] = None,
        k: int = 10,
        ef_search: Optional[int] = None,
        where_filter: Optional[Dict[str, Any]] = None,
        where_document: Optional[Dict[str, Any]] = None,
        fusion: str = "rrf",
        weight: float = 0.5,
    ) -> List[_quarn.SearchResult]:
        """search and search_keyword fused into one ranking of k records, each side giving its own
        top k. fusion='rrf' scores a record sum(1 / (60 + rank)) over the sides that found it;
        'weighted' maps each side's scores onto [0, 1] (min-max, best 1) and adds weight times the
        vector score to (1 - weight) times the keyword score. .distance is minus the fused score;
        equal scores keep the vector hits' order, then the keyword hits'.

        On a database with an embedding function, text alone will do: search_hybrid("some
        words", k=5) embeds the text for the vector side and matches its words on the other."""
        vector, query = self._hybrid_pair(vector, query)
        return super().search_hybrid(vector, query, k, ef_search, where_filter,  # type: ignore[misc, no-any-return]
                                     fusion=fusion, weight=weight, **_options(False, where_document))

    def _hybrid_pair(self, vector: Any, query: Optional[str]) -> tuple[Any, Optional[str]]:
        """search_hybrid's vector and query: text alone (as vector or as query) is embedded for the
        vector side and is the query too; anything else goes to the engine as it is."""
        if isinstance(vector, str) or (vector is None and query is not None):
            text: str = vector if isinstance(vector, str) else query  # type: ignore[assignment]
            fn = self._text.require("search_hybrid with text only")
            vector = _embeddings().embed(fn, _embeddings().as_texts([text]), query=True)[0]
            if query is None:
                query = text
        return vector, query

    def _write_texts(self, call: str, ids: Sequence[str], documents: Sequence[str],
                     metadatas: Optional[List[Optional[Metadata]]], progress: Progress, upsert: bool) -> None:
        fn = self._text.require(call)
        texts = _embeddings().as_texts(documents)
        ids = list(ids)
        if len(ids) != len(texts):
            raise ValueError(f"{call}: {len(ids)} ids but {len(texts)} documents")
        if metadatas is not None and len(metadatas) != len(ids):
            raise ValueError(f"{call}: {len(ids)} ids but {len(metadatas)} metadatas")
        n = len(ids)
        with Reporter(progress, 2 * n, call) as reporter:
            failure = _Failure(reporter.callback)
            vectors = embed_all(fn, texts, query=False, report=lambda done: failure.report(done, 2 * n))
            linking = None if failure.callback is None or failure.error is not None else \
                (lambda done, total: failure.report(n + done, n + total))
            self._store(upsert, ids, vectors, metadatas, texts, linking)
        if failure.error is not None:
            raise failure.error

    def _store(self, upsert: bool, ids: List[str], vectors: npt.NDArray[np.float32],
               metadatas: Optional[List[Optional[Metadata]]], texts: List[str],
               linking: Optional[Callable[[int, int], None]]) -> None:
        """The batch write of embedded texts; ``linking`` hears its progress as add_many's does."""
        write = self.upsert_many if upsert else self.add_many  # type: ignore[attr-defined]
        write(ids, vectors, metadatas, progress=linking, documents=texts)


def _options(include_vectors: bool, where_document: Optional[Dict[str, Any]]) -> Dict[str, Any]:
    """Search keywords passed only when they ask for something, for searches that lack them."""
    out: Dict[str, Any] = {}
    if include_vectors:
        out["include_vectors"] = True
    if where_document is not None:
        out["where_document"] = where_document
    return out


def prepare(path: Any, embedding: Optional[Embedding], dim: Optional[int],
            metric: Optional[str]) -> tuple[Optional[EmbeddingFunction], Optional[int], Optional[str]]:
    """Before the engine opens: the function, and dim and metric to open with.

    A function the directory's record refuses is refused here, before anything is created. A
    path of the wrong type is left to the engine's own error.
    """
    if embedding is None:
        return None, dim, metric
    fn = _embeddings().resolve(embedding)
    dim, metric = settle_shape(fn, dim, metric)
    if isinstance(path, (str, bytes, os.PathLike)):
        directory = os.fsdecode(os.fspath(path))
        check_recorded(directory, _embedding_record.read(directory), _embeddings().describe(fn))
    return fn, dim, metric
