"""QuarnVectorStore: a LangChain vector store kept in a quarn database."""

from __future__ import annotations

import functools
import math
import uuid
from typing import Any, Callable, Dict, Iterable, List, Optional, Sequence, Tuple, Type

import numpy as np
from langchain_core.documents import Document
from langchain_core.embeddings import Embeddings
from langchain_core.runnables.config import run_in_executor
from langchain_core.vectorstores import VectorStore
from langchain_core.vectorstores.utils import maximal_marginal_relevance

from quarn._database import Database
from quarn._store_database import PathLike, StoreDatabase
from quarn.langchain._filters import to_where


class QuarnVectorStore(VectorStore):
    """A LangChain vector store in a quarn database: each document is one record, its text the
    record's document, its metadata the record's metadata, its embedding the record's vector.

    Give a directory `path` (a database there is opened; where there is none, one is created at
    the first write, with the embedding's dimension and `metric`) or an open `database`, which
    the store uses as it is and leaves open. Other keyword arguments (`m`, `ef_construction`,
    `quantize`, `durability`, `read_only`) go to `quarn.Database`.

    `filter` takes LangChain's metadata filter dicts: `{"field": value}`, the operators `$eq`,
    `$ne`, `$gt`, `$gte`, `$lt`, `$lte`, `$in`, `$nin`, `$exists` and `$between`, and `$and` /
    `$or` lists. Scores from `similarity_search_with_score` are quarn distances (smaller is
    nearer); `similarity_search_with_relevance_scores` maps them onto [0, 1]."""

    def __init__(
        self,
        embedding: Embeddings,
        path: Optional[PathLike] = None,
        *,
        database: Optional[Database] = None,
        metric: Optional[str] = None,
        **open_args: Any,
    ) -> None:
        self.embedding = embedding
        self._store = StoreDatabase(path, database, metric, open_args)

    @property
    def embeddings(self) -> Embeddings:
        return self.embedding

    @property
    def database(self) -> Optional[Database]:
        """The quarn database, or None while `path` holds none (before the first write)."""
        return self._store.database

    def close(self) -> None:
        """Close the database if the store opened it from a path."""
        self._store.close()

    # Writing.

    def add_texts(
        self,
        texts: Iterable[str],
        metadatas: Optional[List[Dict[str, Any]]] = None,
        *,
        ids: Optional[List[str]] = None,
        **kwargs: Any,
    ) -> List[str]:
        """Embed and store the texts; an id that is already stored is replaced. Ids that are
        not given (None, or no list) are generated."""
        batch, metas, keys = _batch(texts, metadatas, ids)
        vectors = self.embedding.embed_documents(batch) if batch else []
        self._store.write(keys, vectors, metas, batch)
        return keys

    async def aadd_texts(
        self,
        texts: Iterable[str],
        metadatas: Optional[List[Dict[str, Any]]] = None,
        *,
        ids: Optional[List[str]] = None,
        **kwargs: Any,
    ) -> List[str]:
        batch, metas, keys = _batch(texts, metadatas, ids)
        vectors = await self.embedding.aembed_documents(batch) if batch else []
        await run_in_executor(None, self._store.write, keys, vectors, metas, batch)
        return keys

    def delete(self, ids: Optional[List[str]] = None, **kwargs: Any) -> Optional[bool]:
        """Delete the documents with these ids (missing ones are skipped); None deletes all."""
        db = self._store.database
        if ids is None and db is not None:
            ids = db.ids()
        self._store.delete(ids or [])
        return True

    # Reading.

    def get_by_ids(self, ids: Sequence[str], /) -> List[Document]:
        """The stored documents among these ids, in the order given; missing ones are skipped."""
        return [_document(id_, metadata, text) for id_, metadata, text in self._store.read(ids)]

    def similarity_search(
        self, query: str, k: int = 4, filter: Optional[Dict[str, Any]] = None, **kwargs: Any
    ) -> List[Document]:
        return [doc for doc, _ in self.similarity_search_with_score(query, k, filter, **kwargs)]

    async def asimilarity_search(
        self, query: str, k: int = 4, filter: Optional[Dict[str, Any]] = None, **kwargs: Any
    ) -> List[Document]:
        return [doc for doc, _ in await self.asimilarity_search_with_score(query, k, filter, **kwargs)]

    def similarity_search_with_score(
        self, query: str, k: int = 4, filter: Optional[Dict[str, Any]] = None, **kwargs: Any
    ) -> List[Tuple[Document, float]]:
        """The k nearest documents to the query with their distances, nearest first."""
        return self.similarity_search_by_vector_with_score(self.embedding.embed_query(query), k, filter, **kwargs)

    async def asimilarity_search_with_score(
        self, query: str, k: int = 4, filter: Optional[Dict[str, Any]] = None, **kwargs: Any
    ) -> List[Tuple[Document, float]]:
        vector = await self.embedding.aembed_query(query)
        return await run_in_executor(None, self.similarity_search_by_vector_with_score, vector, k, filter, **kwargs)

    def similarity_search_by_vector(
        self, embedding: List[float], k: int = 4, filter: Optional[Dict[str, Any]] = None, **kwargs: Any
    ) -> List[Document]:
        return [doc for doc, _ in self.similarity_search_by_vector_with_score(embedding, k, filter, **kwargs)]

    def similarity_search_by_vector_with_score(
        self, embedding: List[float], k: int = 4, filter: Optional[Dict[str, Any]] = None, **kwargs: Any
    ) -> List[Tuple[Document, float]]:
        """The k nearest documents to the vector with their distances; `ef_search` is passed on."""
        return [(_document(hit.id, hit.metadata, hit.document), hit.distance)
                for hit in self._search(embedding, k, filter, kwargs.get("ef_search"))]

    def max_marginal_relevance_search(
        self,
        query: str,
        k: int = 4,
        fetch_k: int = 20,
        lambda_mult: float = 0.5,
        filter: Optional[Dict[str, Any]] = None,
        **kwargs: Any,
    ) -> List[Document]:
        return self.max_marginal_relevance_search_by_vector(
            self.embedding.embed_query(query), k, fetch_k, lambda_mult, filter, **kwargs)

    async def amax_marginal_relevance_search(
        self, query: str, k: int = 4, fetch_k: int = 20, lambda_mult: float = 0.5, **kwargs: Any
    ) -> List[Document]:
        vector = await self.embedding.aembed_query(query)
        return await run_in_executor(None, self.max_marginal_relevance_search_by_vector,
                                     vector, k, fetch_k, lambda_mult, **kwargs)

    def max_marginal_relevance_search_by_vector(
        self,
        embedding: List[float],
        k: int = 4,
        fetch_k: int = 20,
        lambda_mult: float = 0.5,
        filter: Optional[Dict[str, Any]] = None,
        **kwargs: Any,
    ) -> List[Document]:
        """k documents chosen among the fetch_k nearest for relevance to the vector and
        diversity among themselves (lambda_mult 1: relevance only, 0: diversity only)."""
        hits = self._search(embedding, max(fetch_k, k), filter, kwargs.get("ef_search"))
        db = self._store.database
        if not hits or db is None:
            return []
        # The hits' vectors by id, which a sharded collection serves as one database does.
        vectors, _ = db.get_many([hit.id for hit in hits], include_vectors=True)
        rows = [] if vectors is None else [row for row in vectors]
        chosen = maximal_marginal_relevance(np.asarray(embedding, dtype=np.float32),
                                            rows, lambda_mult=lambda_mult, k=k)
        return [_document(hits[i].id, hits[i].metadata, hits[i].document) for i in chosen]

    def _search(self, vector: Any, k: int, filter: Optional[Dict[str, Any]], ef_search: Optional[int]) -> list:
        where = to_where(filter)
        db = self._store.database
        if db is None:
            return []
        return db.search(vector, k=k, ef_search=ef_search, where_filter=where, include_documents=True)

    def _select_relevance_score_fn(self) -> Callable[[float], float]:
        metric = self._store.metric
        if metric == "cosine":
            return self._cosine_relevance_score_fn
        if metric in ("dot_product", "dot", "ip"):
            return self._max_inner_product_relevance_score_fn
        # The engine's Euclidean distance is squared; LangChain's mapping wants it plain.
        return lambda distance: self._euclidean_relevance_score_fn(math.sqrt(max(distance, 0.0)))

    # Construction.

    @classmethod
    def from_texts(
        cls: Type[QuarnVectorStore],
        texts: List[str],
        embedding: Embeddings,
        metadatas: Optional[List[Dict[str, Any]]] = None,
        *,
        ids: Optional[List[str]] = None,
        path: Optional[PathLike] = None,
        database: Optional[Database] = None,
        **kwargs: Any,
    ) -> QuarnVectorStore:
        """A store at `path` (or over `database`) holding the texts."""
        store = cls(embedding, path, database=database, **kwargs)
        store.add_texts(texts, metadatas, ids=ids)
        return store

    @classmethod
    async def afrom_texts(
        cls: Type[QuarnVectorStore],
        texts: List[str],
        embedding: Embeddings,
        metadatas: Optional[List[Dict[str, Any]]] = None,
        *,
        ids: Optional[List[str]] = None,
        **kwargs: Any,
    ) -> QuarnVectorStore:
        """from_texts, embedding with the embedding's async method; `path` or `database` in kwargs."""
        store = await run_in_executor(None, functools.partial(cls, embedding, **kwargs))
        await store.aadd_texts(texts, metadatas, ids=ids)
        return store


def _batch(
    texts: Iterable[str], metadatas: Optional[List[Dict[str, Any]]], ids: Optional[Sequence[Optional[str]]]
) -> Tuple[List[str], List[Dict[str, Any]], List[str]]:
    """The texts as a list, a metadata dict for each, and an id for each (generated where absent:
    LangChain's add_documents passes None for documents without one)."""
    batch = list(texts)
    if metadatas is not None and len(metadatas) != len(batch):
        raise ValueError(f"metadatas length ({len(metadatas)}) != texts length ({len(batch)})")
    if ids is not None and len(ids) != len(batch):
        raise ValueError(f"ids length ({len(ids)}) != texts length ({len(batch)})")
    metas = [dict(m) if m else {} for m in metadatas] if metadatas is not None else [{} for _ in batch]
    given = ids if ids is not None else [None] * len(batch)
    return batch, metas, [id_ if id_ is not None else uuid.uuid4().hex for id_ in given]


def _document(id_: str, metadata: Optional[Dict[str, Any]], text: Optional[str]) -> Document:
    return Document(id=id_, page_content=text or "", metadata=metadata or {})
