"""QuarnVectorStore: a LlamaIndex vector store kept in a quarn database."""

import asyncio
import os
from typing import Any, Dict, List, NamedTuple, Optional, Sequence, Union

import numpy as np

from llama_index.core.bridge.pydantic import PrivateAttr
from llama_index.core.schema import BaseNode, MetadataMode, TextNode
from llama_index.core.vector_stores.types import (
    BasePydanticVectorStore,
    MetadataFilters,
    VectorStoreQuery,
    VectorStoreQueryMode,
    VectorStoreQueryResult,
)
from llama_index.core.vector_stores.utils import metadata_dict_to_node, node_to_metadata_dict

from quarn._database import Database
from quarn._store_database import StoreDatabase, distances, relevance
from quarn.llama_index._filters import to_where

# The metadata field every node carries with the id of the document it came from.
REF_DOC_ID = "ref_doc_id"


class QuarnVectorStore(BasePydanticVectorStore):
    """A LlamaIndex vector store in a quarn database: each node is one record, its text the
    record's document, its embedding the record's vector, and its metadata (with the node itself
    serialised beside it) the record's metadata.

    Give a directory `path` (a database there is opened; where there is none, one is created at
    the first write, with the embeddings' dimension and `metric`) or an open `database`, which
    the store uses as it is and leaves open. Other keyword arguments (`m`, `ef_construction`,
    `quantize`, `durability`, `read_only`) go to `quarn.Database`.

    `query` answers the modes DEFAULT (nearest vectors), TEXT_SEARCH (BM25 over the texts, from
    `query_str`) and HYBRID (both fused: weighted by `alpha` when it is given, by reciprocal rank
    otherwise), with `filters` (EQ, NE, GT, GTE, LT, LTE, IN, NIN under AND, OR and NOT) and
    `doc_ids`; `node_ids` (DEFAULT mode) restricts the search to those nodes, exactly.
    Similarities are larger for nearer nodes: the cosine similarity, the inner product or
    1 / (1 + squared Euclidean distance) by the metric; the fused or BM25 score otherwise.
    The async forms of add, delete and query run the engine on a worker thread."""

    stores_text: bool = True
    flat_metadata: bool = False

    _store: StoreDatabase = PrivateAttr()

    def __init__(
        self,
        path: Optional[Union[str, "os.PathLike[str]"]] = None,
        *,
        database: Optional[Database] = None,
        metric: Optional[str] = None,
        **open_args: Any,
    ) -> None:
        super().__init__(stores_text=True)
        self._store = StoreDatabase(path, database, metric, open_args)

    @classmethod
    def class_name(cls) -> str:
        return "QuarnVectorStore"

    @property
    def client(self) -> Optional[Database]:
        """The quarn database, or None while `path` holds none (before the first write)."""
        return self._store.database

    def close(self) -> None:
        """Close the database if the store opened it from a path."""
        self._store.close()

    def add(self, nodes: Sequence[BaseNode], **kwargs: Any) -> List[str]:
        """Store the nodes (each must have its embedding) in one all-or-nothing batch; a node id
        that is already stored is replaced."""
        ids = [node.node_id for node in nodes]
        vectors = [node.get_embedding() for node in nodes]
        metadatas = [node_to_metadata_dict(node, remove_text=True, flat_metadata=self.flat_metadata)
                     for node in nodes]
        texts = [node.get_content(metadata_mode=MetadataMode.NONE) for node in nodes]
        self._store.write(ids, vectors, metadatas, texts)
        return ids

    async def async_add(self, nodes: Sequence[BaseNode], **kwargs: Any) -> List[str]:
        return await asyncio.to_thread(self.add, nodes, **kwargs)

    def delete(self, ref_doc_id: str, **delete_kwargs: Any) -> None:
        """Delete every node that came from the document ref_doc_id."""
        db = self._store.database
        if db is None:
            return
        where = {REF_DOC_ID: ref_doc_id}
        delete_where = getattr(db, "delete_where", None)
        if delete_where is not None:  # one logged batch: no window between finding and deleting
            delete_where(where)
        else:
            self._store.delete(db.ids(where=where))

    async def adelete(self, ref_doc_id: str, **delete_kwargs: Any) -> None:
        await asyncio.to_thread(self.delete, ref_doc_id, **delete_kwargs)

    def delete_nodes(
        self,
        node_ids: Optional[List[str]] = None,
        filters: Optional[MetadataFilters] = None,
        **delete_kwargs: Any,
    ) -> None:
        """Delete the nodes among node_ids (all when None) that match filters."""
        self._store.delete(self._select(node_ids, filters))

    def clear(self) -> None:
        """Delete every node."""
        self._store.delete(self._select(None, None))

    def get_nodes(
        self,
        node_ids: Optional[List[str]] = None,
        filters: Optional[MetadataFilters] = None,
    ) -> List[BaseNode]:
        """The stored nodes among node_ids (all when None) that match filters, without embeddings."""
        return [_node(id_, metadata, text) for id_, metadata, text in self._store.read(self._select(node_ids, filters))]

    def query(self, query: VectorStoreQuery, **kwargs: Any) -> VectorStoreQueryResult:
        where = to_where(query.filters)
        if query.doc_ids is not None:
            by_doc = {REF_DOC_ID: {"$in": list(query.doc_ids)}}
            where = by_doc if where is None else {"$and": [where, by_doc]}
        db = self._store.database
        if db is None:
            hits: list = []
        elif query.node_ids:  # an empty list, as an index over this store passes, restricts nothing
            hits = self._nearest_among(db, query, where)
        else:
            hits = self._hits(db, query, where)
        metric = self._store.metric
        by_distance = query.mode == VectorStoreQueryMode.DEFAULT
        return VectorStoreQueryResult(
            nodes=[_node(hit.id, hit.metadata, hit.document) for hit in hits],
            similarities=[relevance(metric, hit.distance) if by_distance else -hit.distance for hit in hits],
            ids=[hit.id for hit in hits],
        )

    def _hits(self, db: Database, query: VectorStoreQuery, where: Optional[Dict[str, Any]]) -> list:
        k = query.similarity_top_k
        mode = query.mode
        if mode == VectorStoreQueryMode.DEFAULT:
            return db.search(_embedding(query), k=k, where_filter=where, include_documents=True)
        if mode == VectorStoreQueryMode.TEXT_SEARCH:
            return db.search_keyword(_text(query), k=k, where_filter=where)
        if mode == VectorStoreQueryMode.HYBRID:
            k = query.hybrid_top_k or k
            if query.alpha is None:
                return db.search_hybrid(_embedding(query), _text(query), k=k, where_filter=where)
            return db.search_hybrid(_embedding(query), _text(query), k=k, where_filter=where,
                                    fusion="weighted", weight=query.alpha)
        raise ValueError(f"query mode {mode.value!r} is not supported by quarn; "
                         "it answers 'default', 'text_search' and 'hybrid'")

    async def aquery(self, query: VectorStoreQuery, **kwargs: Any) -> VectorStoreQueryResult:
        return await asyncio.to_thread(self.query, query, **kwargs)

    def _nearest_among(self, db: Database, query: VectorStoreQuery, where: Optional[Dict[str, Any]]) -> list:
        """The query's nearest nodes among query.node_ids, by exact distances."""
        if query.mode != VectorStoreQueryMode.DEFAULT:
            raise ValueError(f"query mode {query.mode.value!r} cannot be restricted to node_ids")
        ids = self._select(query.node_ids, where)
        if not ids:
            return []
        vectors, metadatas, documents = db.get_many(ids, include_documents=True)
        distance = distances(self._store.metric, vectors, _embedding(query))
        nearest = np.argsort(distance, kind="stable")[:query.similarity_top_k]
        return [_Hit(ids[i], float(distance[i]), metadatas[i], documents[i]) for i in nearest]

    def _select(self, node_ids: Optional[List[str]], where: Union[MetadataFilters, Dict[str, Any], None]) -> List[str]:
        """The stored ids among node_ids (all when None) that match the filters."""
        db = self._store.database
        if db is None:
            return []
        if isinstance(where, MetadataFilters):
            where = to_where(where)
        if node_ids is None:
            return db.ids(where=where)
        present = self._store.present(node_ids)
        if where is None:
            return present
        matching = set(db.ids(where=where))
        return [id_ for id_ in present if id_ in matching]


class _Hit(NamedTuple):
    id: str
    distance: float
    metadata: Optional[Dict[str, Any]]
    document: Optional[str]


def _embedding(query: VectorStoreQuery) -> List[float]:
    if query.query_embedding is None:
        raise ValueError(f"query mode {query.mode.value!r} needs query_embedding")
    return query.query_embedding


def _text(query: VectorStoreQuery) -> str:
    if query.query_str is None:
        raise ValueError(f"query mode {query.mode.value!r} needs query_str")
    return query.query_str


def _node(id_: str, metadata: Optional[Dict[str, Any]], text: Optional[str]) -> BaseNode:
    """The node as it was added; a record written otherwise becomes a TextNode of its text."""
    if metadata is not None and "_node_content" in metadata:
        node = metadata_dict_to_node(metadata, text=text)
    else:
        node = TextNode(id_=id_, text=text or "", metadata=metadata or {})
    return node
