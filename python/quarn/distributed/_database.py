"""ShardedDatabase: the calls of ``quarn.Database`` over a collection split into shards."""

from __future__ import annotations

import os
from typing import Iterator, Literal, Optional

import ray

import quarn
from quarn import _text as _embedding
from quarn.distributed import _backup, _batches, _keyword, _reads, _text
from quarn.distributed._checks import ArgumentChecks
from quarn.distributed._errors import MAYBE_APPLIED, NO_PARTIAL
from quarn.distributed._manifest import PARAMETERS, check_new_layout, create_manifest, read_manifest
from quarn.distributed._routing import shard_of
from quarn.distributed._shards import Shards


def _check_keyword(checks, keyword: dict) -> None:
    """Raises what a database with the collection's keyword settings raises when reopened with others."""
    quarn.Database(checks.db.path, keyword=keyword, read_only=True).close()


class ShardedDatabase(_text.ShardedTextMethods):
    """A quarn collection split over ``shards`` Ray actors, with the calls of ``quarn.Database``.

    ``root``: directory of the manifest and of ``shard-NNN``; on several machines it must be on a
    file system every node reaches at the same path. Creating needs ``shards`` and ``dim``; reopening
    takes both from the manifest (a different ``shards`` is refused), like the other parameters,
    which win over the arguments as they do for ``Database``. ``replicas``: read-only actors per
    shard that serve searches and reopen after every ``save``. ``address``: Ray cluster to join
    when Ray is not initialised yet (None starts or finds a local one). ``actor_options``: extra
    ``.options()`` for every actor (the default asks for no CPUs and spreads actors over nodes).
    ``max_restarts``: how often Ray may restart a dead actor (-1: without limit). ``keyword``: the
    keyword settings of every shard, as for ``quarn.Database``, kept in the manifest. ``embedding``:
    the collection's embedding function for add_texts and search_text, recorded in ``root``, as for
    ``Database``; the driver embeds.
    ``recover``: each shard's writer opens with ``recover=True`` (see ``recovery_report``).
    """

    def __init__(self, root, shards: Optional[int] = None, dim: Optional[int] = None, metric: Optional[str] = None,
                 m: Optional[int] = None, ef_construction: Optional[int] = None, quantize: bool = False,
                 replicas: int = 0, address: Optional[str] = None, *, max_restarts: int = -1,
                 actor_options: Optional[dict] = None, restart_timeout: float = 60.0,
                 durability: str = "flush", keyword: Optional[dict] = None, embedding=None,
                 recover: bool = False, vectors_in_memory: Optional[bool] = None):
        root = os.path.abspath(os.fspath(root))
        fn, dim, metric = _embedding.prepare(root, embedding, dim, metric)
        if isinstance(replicas, bool) or not isinstance(replicas, int) or replicas < 0:
            raise ValueError("replicas must be a non-negative int")
        self._closed = True
        manifest = read_manifest(root, shards)
        if manifest is None:
            count = check_new_layout(root, shards, dim)
            checks = ArgumentChecks(dim, metric, m, ef_construction, quantize, durability, keyword)
            try:
                manifest = create_manifest(root, count, checks.parameters())
            except BaseException:
                checks.close()
                raise
        else:
            checks = ArgumentChecks(manifest["dim"], manifest["metric"], durability=durability,
                                    keyword=manifest.get("keyword"))
            if keyword is not None:
                try:
                    _check_keyword(checks, keyword)  # refused as one database refuses others
                except BaseException:
                    checks.close()
                    raise
        self._checks = checks
        self._root = root
        self._manifest = manifest
        try:
            if not ray.is_initialized():
                ray.init(address=address, ignore_reinit_error=True)
            params = {key: manifest[key] for key in PARAMETERS}
            params["durability"] = durability  # chosen per open, never stored in the manifest
            params["keyword"] = manifest.get("keyword")
            if recover:
                params["recover"] = True  # likewise; each shard reports what it left out
            # Stored by each shard in its own directory, as by a single database.
            params["vectors_in_memory"] = vectors_in_memory
            self._shards = Shards(root, manifest["shards"], params, replicas,
                                  max_restarts=max_restarts, actor_options=actor_options,
                                  restart_timeout=restart_timeout)
        except BaseException:
            checks.close()
            raise
        self._closed = False
        try:
            self._text = _embedding.open_embedding(root, self.dim, self.metric, False, fn)
        except BaseException:
            self.close()
            raise

    # ---- properties ---------------------------------------------------------------------------

    @property
    def root(self) -> str:
        return self._root

    @property
    def shards(self) -> int:
        return self._manifest["shards"]

    @property
    def dim(self) -> int:
        return self._manifest["dim"]

    @property
    def metric(self) -> str:
        return self._manifest["metric"]

    @property
    def keyword(self) -> dict:
        """The keyword settings of every shard, as stored (see quarn.Database's keyword)."""
        return self._checks.db.keyword

    @property
    def manifest(self) -> dict:
        return dict(self._manifest)

    @property
    def actors(self) -> list:
        """The writer actor of each shard, by shard number."""
        return list(self._shards.writers)

    @property
    def replica_actors(self) -> list:
        return [list(group) for group in self._shards.replicas]

    @property
    def closed(self) -> bool:
        return self._closed

    def shard_of(self, id: str) -> int:
        return shard_of(id, self.shards)

    def shard_path(self, shard: int) -> str:
        return self._shards.path(shard)

    def _open(self) -> "Shards":
        if self._closed:
            raise ValueError("the sharded database is closed")
        return self._shards

    def _properties(self) -> list:
        return list(self._open().each(lambda s, w: w.call.remote("properties"), "properties", retry=True).values())

    @property
    def total_slots(self) -> int:
        return sum(p["total_slots"] for p in self._properties())

    @property
    def deleted_count(self) -> int:
        return sum(p["deleted_count"] for p in self._properties())

    @property
    def quantized_search(self) -> bool:
        return all(p["quantized_search"] for p in self._properties())

    @property
    def recovery_report(self) -> list:
        """What each shard's open left out or found damaged: the notes of Database.recovery_report,
        each with its shard number under "shard"."""
        return [dict(note, shard=s) for s, p in enumerate(self._properties()) for note in p["recovery_report"]]

    # ---- single-id calls ------------------------------------------------------------------------

    def _one(self, method: str, id: str, *args, read: bool = False, **kwargs):
        shards = self._open()
        shard = shard_of(id, shards.count)
        call = {shard: lambda: shards.writers[shard].call.remote(method, id, *args, **kwargs)}
        return shards.gather(call, method, NO_PARTIAL if read else MAYBE_APPLIED, retry=read)[shard]

    def add(self, id: str, vector, metadata: Optional[dict] = None, document: Optional[str] = None) -> None:
        self._open()
        self._checks.write("add", id, vector, metadata, document)
        return self._one("add", id, vector, metadata, document)

    def upsert(self, id: str, vector, metadata: Optional[dict] = None, document: Optional[str] = None) -> None:
        self._open()
        self._checks.write("upsert", id, vector, metadata, document)
        return self._one("upsert", id, vector, metadata, document)

    def update(self, id: str, vector=None, metadata: Optional[dict] = None, document=...) -> None:
        """document: a str replaces the record's document, None removes it, omitted (or ...) keeps it."""
        self._open()
        self._checks.write("update", id, vector, metadata, document)
        return self._one("update", id, vector=vector, metadata=metadata, document=document)

    def get(self, id: str):
        self._open()
        self._checks.write("delete", id)
        return self._one("get", id, read=True)

    def delete(self, id: str) -> bool:
        self._open()
        self._checks.write("delete", id)
        return self._one("delete", id)

    def __contains__(self, id) -> bool:
        self._open()
        _ = id in self._checks.db
        return self._one("contains", id, read=True)

    # ---- batch writes ---------------------------------------------------------------------------

    def add_many(self, ids, vectors, metadatas: Optional[list] = None, *, documents: Optional[list] = None) -> None:
        """Add new records in one all-or-nothing batch, split by shard and written in parallel."""
        _batches.write_many(self._open(), self._checks, "add_many", ids, vectors, metadatas, documents)

    def upsert_many(self, ids, vectors, metadatas: Optional[list] = None, *,
                    documents: Optional[list] = None) -> None:
        """Add or replace records in one all-or-nothing batch; for an id given twice the last occurrence wins."""
        _batches.write_many(self._open(), self._checks, "upsert_many", ids, vectors, metadatas, documents)

    def delete_many(self, ids) -> int:
        """Delete the ids in one all-or-nothing batch; returns how many were there."""
        return _batches.delete_many(self._open(), self._checks, ids)

    def delete_where(self, where_filter: dict) -> int:
        """Delete every record matching a metadata filter; returns how many. Each shard deletes in one
        batch, and a failure on one undoes the others, as for delete_many."""
        return _text.delete_where(self._open(), self._checks, where_filter)

    # ---- reads across shards --------------------------------------------------------------------

    def search(self, vector, k: int = 10, ef_search: Optional[int] = None, where_filter: Optional[dict] = None,
               max_distance: Optional[float] = None, *, include_documents: bool = False,
               where_document: Optional[dict] = None, rerank: Optional[int] = None) -> list:
        """Search for the k nearest neighbors on every shard and merge them into one ascending list."""
        return _reads.search(self._open(), self._checks, vector, k, ef_search, where_filter, max_distance,
                             include_documents, where_document, rerank)

    def search_many(self, vectors, k: int = 10, ef_search: Optional[int] = None,
                    where_filter: Optional[dict] = None, max_distance: Optional[float] = None, *,
                    include_documents: bool = False, where_document: Optional[dict] = None,
                    rerank: Optional[int] = None) -> list:
        """Search multiple queries on every shard in parallel. Returns list of list of SearchResult."""
        return _reads.search_many(self._open(), self._checks, vectors, k, ef_search, where_filter, max_distance,
                                  include_documents, where_document, rerank)

    def search_keyword(self, query: str, k: int = 10, where_filter: Optional[dict] = None,
                       where_document: Optional[dict] = None) -> list:
        """BM25 keyword search over the whole collection: every shard scores with the collection's statistics,
        so scores and ranking are those of one database holding every record (equal scores ordered by id)."""
        return _keyword.search_keyword(self._open(), self._checks, query, k, where_filter, where_document)

    def search_keyword_many(self, queries, k: int = 10, where_filter: Optional[dict] = None,
                            where_document: Optional[dict] = None) -> list:
        """search_keyword for each query; a list of lists of SearchResult."""
        return _keyword.search_keyword_many(self._open(), self._checks, queries, k, where_filter, where_document)

    def search_hybrid(self, vector=None, query: Optional[str] = None, k: int = 10, ef_search: Optional[int] = None,
                      where_filter: Optional[dict] = None, where_document: Optional[dict] = None,
                      fusion: str = "rrf", weight: float = 0.5) -> list:
        """search and search_keyword over the collection fused into one ranking, as quarn.Database fuses them;
        with an embedding function, text alone will do, as for quarn.Database."""
        vector, query = self._hybrid_pair(vector, query)
        return _keyword.search_hybrid(self._open(), self._checks, vector, query, k, ef_search, where_filter,
                                      where_document, fusion, weight)

    def search_hybrid_many(self, vectors, queries, k: int = 10, ef_search: Optional[int] = None,
                           where_filter: Optional[dict] = None, where_document: Optional[dict] = None,
                           fusion: str = "rrf", weight: float = 0.5) -> list:
        """search_hybrid for each row of vectors with the query at the same position."""
        return _keyword.search_hybrid_many(self._open(), self._checks, vectors, queries, k, ef_search, where_filter,
                                           where_document, fusion, weight)

    def search_many_arrays(self, vectors, k: int = 10, ef_search: Optional[int] = None,
                           where_filter: Optional[dict] = None, max_distance: Optional[float] = None):
        """search_many as ``quarn.SearchArrays(ids, distances, counts)``: a str and a float32 array of shape
        (n, k), k capped at the collection's size, and int64 counts; row i holds counts[i] hits, then '' and inf."""
        return _reads.search_many_arrays(self._open(), self._checks, vectors, k, ef_search, where_filter,
                                         max_distance)

    def get_many(self, ids, include_vectors: bool = True, include_documents: bool = False) -> tuple:
        """(vectors, metadatas) of ids in their order: a float32 array of shape (len(ids), dim), or None, and a
        list; with include_documents a third list of their documents (str or None). An id that is not there
        raises ValueError naming its position in ids."""
        return _reads.get_many(self._open(), self._checks, ids, include_vectors, include_documents)

    def count(self, where_filter: Optional[dict] = None, *, where_document: Optional[dict] = None) -> int:
        """Count vectors matching a filter, or all vectors if no filter."""
        shards = self._open()
        self._checks.read("count", where_filter, where_document=where_document)
        return sum(shards.each(lambda s, w: w.call.remote("count", where_filter, where_document=where_document),
                               "count", retry=True).values())

    def __len__(self) -> int:
        shards = self._open()
        return sum(shards.each(lambda s, w: w.call.remote("len"), "len", retry=True).values())

    def ids(self, where: Optional[dict] = None, limit: Optional[int] = None, offset: int = 0, *,
            where_document: Optional[dict] = None) -> list:
        """Ids of the records matching ``where`` (all without one): shard by shard, each shard's in the order they
        were first added; the first ``offset`` of that list are skipped and at most ``limit`` returned."""
        return _reads.ids(self._open(), self._checks, where, limit, offset, where_document)

    def records(self, batch_size: int = 1024, include_vectors: bool = True) -> Iterator:
        """Every record as ``quarn.Record(id, vector, metadata)``, in the order of ``ids()``, read batch_size at a
        time. The ids are those live when the iteration starts; a record deleted meanwhile is skipped."""
        return _reads.records(self._open(), self._checks, batch_size, include_vectors)

    def __iter__(self) -> Iterator:
        """Iterate over every record: for id, vector, metadata in db: ..."""
        return self.records()

    # ---- whole-collection operations ------------------------------------------------------------

    def save(self) -> None:
        """Saves every shard in parallel, then reopens the replicas on the new snapshots."""
        shards = self._open()
        shards.each(lambda s, w: w.call.remote("save"), "save")
        shards.refresh_replicas()

    def refresh_replicas(self) -> None:
        """Reopens the replicas now, so that they also see the writes logged since the last save."""
        self._open().refresh_replicas()

    def sync(self) -> None:
        """Syncs every shard's log to the disk, in parallel."""
        self._open().each(lambda s, w: w.call.remote("sync"), "sync")

    def backup(self, dest) -> None:
        """Copy the collection into the new directory ``dest`` (it must not exist, or be an empty directory)
        while writers go on: each shard's backup, made in parallel, in its own directory under ``dest``, plus
        the manifest. Each shard's copy is that shard at one moment during the call, holding every write
        acknowledged before the call began. ``dest`` appears only once every shard is copied; the same
        ValueErrors as ``Database.backup`` for a bad ``dest``, and nothing is left there after a failure."""
        _backup.backup(self._open(), self._root, dest)

    def compact(self) -> None:
        """Rebuild every shard's index with only live vectors, in parallel."""
        self._open().each(lambda s, w: w.call.remote("compact"), "compact")

    def verify_files(self) -> dict:
        """Database.verify_files of every shard, in parallel: checked when every shard was, files and
        bytes summed, problems prefixed with their shard; generation None (each shard counts its own),
        and each shard's own result under "shards"."""
        values = self._open().each(lambda s, w: w.call.remote("verify_files"), "verify_files", retry=True)
        per_shard = [values[s] for s in range(self.shards)]
        return {"checked": all(r["checked"] for r in per_shard), "generation": None,
                "files": sum(r["files"] for r in per_shard), "bytes": sum(r["bytes"] for r in per_shard),
                "problems": [f"shard {s}: {p}" for s, r in enumerate(per_shard) for p in r["problems"]],
                "shards": per_shard}

    def enable_quantized_search(self) -> None:
        self._set_quantized(True)

    def disable_quantized_search(self) -> None:
        self._set_quantized(False)

    def _set_quantized(self, on: bool) -> None:
        shards = self._open()
        method = "enable_quantized_search" if on else "disable_quantized_search"
        shards.each(lambda s, w: w.call.remote(method), method)
        shards.gather({(s, r): (lambda a=a: a.set_quantized.remote(on)) for s, group in enumerate(shards.replicas)
                       for r, a in enumerate(group)}, method, retry=True)

    def stats(self) -> dict:
        """Statistics of every shard, and totals: sums of counts and memory, extremes of degrees and layers."""
        values = self._open().each(lambda s, w: w.call.remote("stats"), "stats", retry=True)
        per_shard = [values[s] for s in range(self.shards)]
        vectors = sum(st["num_vectors"] for st in per_shard)
        totals = {key: sum(st[key] for st in per_shard)
                  for key in ("num_vectors", "num_deleted", "memory_vectors_bytes", "memory_graph_bytes",
                              "memory_quantized_bytes")}
        totals["num_layers"] = max(st["num_layers"] for st in per_shard)
        totals["max_degree_layer0"] = max(st["max_degree_layer0"] for st in per_shard)
        totals["min_degree_layer0"] = min(st["min_degree_layer0"] for st in per_shard)
        totals["avg_degree_layer0"] = (sum(st["avg_degree_layer0"] * st["num_vectors"] for st in per_shard) / vectors
                                       if vectors else 0.0)
        totals["uses_brute_force"] = all(st["uses_brute_force"] for st in per_shard)
        totals["uses_quantized_search"] = all(st["uses_quantized_search"] for st in per_shard)
        totals["reachable_layer0"] = sum(st["reachable_layer0"] for st in per_shard)
        totals["vectors_in_memory"] = all(st["vectors_in_memory"] for st in per_shard)
        return {"shards": per_shard, "totals": totals}

    def _inject_fault(self, shard: int, method: str, error: Optional[Exception]) -> None:
        """Test hook: shard's next ``method`` call (or ``"restore"``) fails with ``error``, writing nothing;
        with None, the shard's actor writes and then dies before answering."""
        ray.get(self._shards.writers[shard].inject_fault.remote(method, error))

    def close(self) -> None:
        """Releases every shard directory and ends the actors; nothing is saved. Idempotent."""
        if self._closed:
            return
        self._closed = True
        try:
            self._shards.close()
        finally:
            self._checks.close()

    def __enter__(self) -> "ShardedDatabase":
        return self

    def __exit__(self, exc_type=None, exc_val=None, exc_tb=None) -> Literal[False]:
        """Saves every shard, also when the block raised, then closes."""
        try:
            self.save()
        finally:
            self.close()
        return False

    def __repr__(self) -> str:
        replicas = len(self._shards.replicas[0]) if getattr(self, "_shards", None) and self._shards.replicas else 0
        return (f"ShardedDatabase({self._root!r}, shards={self.shards}, dim={self.dim}, "
                f"metric={self.metric!r}, replicas={replicas})")
