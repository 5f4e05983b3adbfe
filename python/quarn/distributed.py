"""A collection split into shards, each an ordinary quarn database served by a Ray actor.

    from quarn.distributed import ShardedDatabase
    db = ShardedDatabase("data/big", shards=4, dim=384)

``ShardedDatabase`` offers the calls of ``quarn.Database``. Every shard is the directory
``root/shard-NNN`` owned by one Ray actor, its only writer; ``root/quarn-shards.json`` records the
shard count, the routing hash and the database parameters. An id lives on the shard picked by a
64-bit BLAKE2b hash of its UTF-8 bytes modulo the shard count (``shard_of``), which is the same on
every machine and Python version.

Single-id calls go to one shard. Batch writes are split by shard and run in parallel; a batch is
all-or-nothing: it is checked on the caller's side and against every shard before anything is
written, and if a shard still fails while writing, the parts already written on the others are
rolled back. When even that is impossible the call raises ``PartialWriteError`` naming the ids
written, not written and of unknown outcome. Searches and counts run on every shard and are
merged. A dead actor is restarted by Ray and reopens its directory (snapshot plus log); a call
that was in flight raises ``ShardUnavailableError`` rather than returning partial results.

Needs Ray: ``pip install 'quarn[ray]'``.
"""

from __future__ import annotations

import hashlib
import json
import math
import os
import tempfile
import threading
import time
from typing import NamedTuple, Optional, Sequence

import numpy as np

import quarn

try:
    import ray
    from ray.exceptions import RayActorError, RayError
except ImportError as error:  # pragma: no cover - exercised only without Ray
    raise ImportError("quarn.distributed needs Ray: pip install 'quarn[ray]'") from error

__all__ = [
    "ShardedDatabase",
    "SearchResult",
    "ShardError",
    "ShardUnavailableError",
    "PartialWriteError",
    "shard_of",
    "MANIFEST",
    "HASH",
]

MANIFEST = "quarn-shards.json"
HASH = "blake2b-64-le-mod"
_FORMAT = "quarn-sharded/1"
_DEFAULT_M = 16
_DEFAULT_EF_CONSTRUCTION = 200
_NO_PARTIAL = "No partial result is returned."
_MAYBE_APPLIED = "The call may or may not have been applied."
_NOTHING_WRITTEN = "Nothing was written."
_READ_ATTEMPTS = 3
_COMPLEX = "vector components must be real numbers, not complex"


def shard_of(id: str, shards: int) -> int:
    """The shard that holds ``id`` among ``shards``: BLAKE2b-64 of its UTF-8 bytes, little-endian, mod shards."""
    digest = hashlib.blake2b(id.encode("utf-8", "surrogatepass"), digest_size=8).digest()
    return int.from_bytes(digest, "little") % shards


class SearchResult(NamedTuple):
    """One hit of a sharded search; unpacks and indexes like ``quarn.SearchResult``."""

    id: str
    distance: float
    metadata: Optional[dict]

    def __repr__(self) -> str:
        return f"SearchResult(id='{self.id}', distance={self.distance:.4f})"


class ShardError(RuntimeError):
    """A shard could not serve a call."""


class ShardUnavailableError(ShardError):
    """A shard's actor died or could not be reached while a call was in flight; nothing partial was returned."""


class PartialWriteError(ShardError):
    """A batch could be neither completed nor rolled back on every shard.

    ``written``: ids whose new state is stored; ``not_written``: ids left as before the call;
    ``unknown``: ids on a shard that could not be reached to find out.
    """

    def __init__(self, message: str, written: list, not_written: list, unknown: list):
        super().__init__(message)
        self.written = written
        self.not_written = not_written
        self.unknown = unknown


# --------------------------------------------------------------------------------------------
# Actors. Every method answers ("ok", value) or ("err", exception) so that the caller re-raises
# the engine's own exception rather than Ray's wrapper of it.


def _reply(fn, *args, **kwargs):
    try:
        return ("ok", fn(*args, **kwargs))
    except Exception as error:  # noqa: BLE001 - handed back to the caller as it is
        return ("err", error)


def _hits(results) -> list:
    return [(r.id, r.distance, r.metadata) for r in results]


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


class _ShardActor:
    """The writer of one shard directory."""

    def __init__(self, path: str, params: dict, open_timeout: float):
        self._path = path
        self._faults: dict = {}
        # An open that fails is reported by ready() and every call, with the engine's own error.
        self._db = None
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
        if method == "search":
            return _reply(lambda: _hits(self._db.search(*args, **kwargs)))
        if method == "search_many":
            return _reply(lambda: [_hits(r) for r in self._db.search_many(*args, **kwargs)])
        if method == "len":
            return _reply(len, self._db)
        if method == "contains":
            return _reply(lambda: args[0] in self._db)
        if method == "properties":
            return _reply(lambda: {"total_slots": self._db.total_slots, "deleted_count": self._db.deleted_count,
                                   "quantized_search": self._db.quantized_search})
        return _reply(getattr(self._db, method), *args, **kwargs)

    def existing(self, ids: list):
        return _reply(lambda: [i for i in ids if i in self._db])

    def records(self, ids: list):
        """The present records among ids, to restore them if a batch has to be undone."""

        def fetch():
            seen = set()
            present, rows, metas = [], [], []
            for i in ids:
                if i in seen or i not in self._db:
                    continue
                seen.add(i)
                vector, metadata = self._db.get(i)
                present.append(i)
                rows.append(vector)
                metas.append(metadata)
            matrix = np.asarray(rows, dtype=np.float32).reshape(len(rows), self._db.dim)
            return present, matrix, metas

        return _reply(fetch)

    def restore(self, remove: list, ids: list, vectors, metadatas: list):
        """Undoes a batch: deletes the ids it created and writes back the records it replaced or deleted."""
        if "restore" in self._faults:
            return ("err", self._faults.pop("restore"))

        def run():
            if remove:
                self._db.delete_many(remove)
            if ids:
                self._db.upsert_many(ids, np.ascontiguousarray(vectors, dtype=np.float32), metadatas)

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


class _ReplicaActor:
    """A read-only view of one shard directory (snapshot plus log) beside its writer; serves searches.

    It sees the directory as it was when it last opened it, and reopens when told (after saves).
    """

    def __init__(self, path: str):
        self._path = path
        self._quantized: Optional[bool] = None
        self._db = None
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
        if method == "search":
            return _reply(lambda: _hits(self._db.search(*args, **kwargs)))
        if method == "search_many":
            return _reply(lambda: [_hits(r) for r in self._db.search_many(*args, **kwargs)])
        return _reply(getattr(self._db, method), *args, **kwargs)

    def close(self):
        db, self._db = self._db, None
        if db is not None:
            db.close()
        return ("ok", None)


# --------------------------------------------------------------------------------------------
# Argument checks on the caller's side, so that no shard refuses a part of a batch for a reason
# that could have been seen before anything was written.


def _ids_arg(ids) -> list:
    if isinstance(ids, str) or not isinstance(ids, Sequence) and not isinstance(ids, np.ndarray):
        raise TypeError("argument 'ids': expected a sequence of str")
    out = list(ids)
    for i in out:
        if not isinstance(i, str):
            raise TypeError(f"argument 'ids': expected str items, got {type(i).__name__}")
    return out


def _finite(matrix: np.ndarray) -> np.ndarray:
    bad = ~np.isfinite(matrix)
    if bad.any():
        row, column = np.argwhere(bad)[0]
        value = matrix[row, column]
        what = "NaN" if np.isnan(value) else ("inf" if value > 0 else "-inf")
        raise ValueError(f"vectors[{row}]: vector components must be finite: component {column} is {what}")
    return matrix


def _matrix_arg(vectors, dim: int) -> np.ndarray:
    """A C-contiguous float32 matrix of the batch, with the engine's errors for wrong lengths and values."""
    if isinstance(vectors, np.ndarray):
        if vectors.ndim != 2:
            raise TypeError(f"argument 'vectors': expected a two-dimensional array, got {vectors.ndim} dimensions")
        if vectors.dtype.kind == "c":
            raise ValueError(_COMPLEX)
        matrix = np.ascontiguousarray(vectors, dtype=np.float32)
        if matrix.shape[0] and matrix.shape[1] != dim:
            raise ValueError(f"vectors[0]: dimension mismatch: expected {dim}, got {matrix.shape[1]}")
        return _finite(matrix)
    if isinstance(vectors, str) or not isinstance(vectors, Sequence):
        raise TypeError("argument 'vectors': expected a float32 matrix or a sequence of sequences of numbers")
    for number, row in enumerate(vectors):
        if isinstance(row, str) or not hasattr(row, "__len__"):
            raise TypeError("argument 'vectors': every row must be a sequence of numbers")
        if len(row) != dim:
            raise ValueError(f"vectors[{number}]: dimension mismatch: expected {dim}, got {len(row)}")
    try:
        matrix = np.array(vectors)
    except (TypeError, ValueError) as error:
        raise TypeError(f"argument 'vectors': {error}") from None
    if matrix.dtype.kind == "c":
        raise ValueError(_COMPLEX)
    if matrix.size and matrix.dtype.kind not in "biuf":
        raise TypeError("argument 'vectors': every row must be a sequence of numbers")
    return _finite(np.ascontiguousarray(matrix, dtype=np.float32).reshape(len(vectors), dim))


def _metadatas_arg(metadatas, n: int) -> list:
    if metadatas is None:
        return [None] * n
    if not isinstance(metadatas, list):
        raise TypeError("argument 'metadatas': expected a list or None")
    if len(metadatas) != n:
        raise ValueError(f"metadatas length ({len(metadatas)}) != ids length ({n})")
    for metadata in metadatas:
        if metadata is None:
            continue
        if not isinstance(metadata, dict):
            raise TypeError(f"argument 'metadatas': expected dict or None items, got {type(metadata).__name__}")
        json.dumps(metadata)  # raises what the engine's conversion would raise
        try:
            json.dumps(metadata, allow_nan=False)
        except ValueError as error:
            raise ValueError(f"invalid metadata: {error}") from None
    return metadatas


def _order_key(hit: tuple) -> tuple:
    # Ascending distance with NaN after every number, as the engine orders; equal distances by id
    # so that the merged order does not depend on which shard answered first.
    distance = hit[1]
    return (math.isnan(distance), distance if not math.isnan(distance) else 0.0, hit[0])


def _merge(parts: list, k: int) -> list:
    hits = [hit for part in parts for hit in part]
    hits.sort(key=_order_key)
    return [SearchResult(*hit) for hit in hits[:k]]


def _canonical_parameters(dim, metric, m, ef_construction, quantize) -> dict:
    """Validates creation parameters with the engine itself, in a scratch directory."""
    with tempfile.TemporaryDirectory() as scratch:
        probe = quarn.Database(os.path.join(scratch, "probe"), dim=dim, metric=metric, m=m,
                               ef_construction=ef_construction, quantize=quantize)
        canonical_metric = probe.metric
        del probe
    return {
        "dim": dim,
        "metric": canonical_metric,
        "m": _DEFAULT_M if m is None else m,
        "ef_construction": _DEFAULT_EF_CONSTRUCTION if ef_construction is None else ef_construction,
        "quantize": bool(quantize),
    }


def _write_json_atomically(path: str, value: dict) -> None:
    directory = os.path.dirname(path)
    fd, temporary = tempfile.mkstemp(prefix=".manifest-", dir=directory)
    try:
        with os.fdopen(fd, "w") as f:
            json.dump(value, f, indent=2, sort_keys=True)
            f.write("\n")
            f.flush()
            os.fsync(f.fileno())
        os.rename(temporary, path)
        dir_fd = os.open(directory, os.O_RDONLY)
        try:
            os.fsync(dir_fd)
        finally:
            os.close(dir_fd)
    except BaseException:
        if os.path.exists(temporary):
            os.unlink(temporary)
        raise


def _load_or_create_manifest(root: str, shards, dim, metric, m, ef_construction, quantize) -> dict:
    path = os.path.join(root, MANIFEST)
    if os.path.exists(path):
        with open(path) as f:
            try:
                manifest = json.load(f)
            except ValueError as error:
                raise ValueError(f"corrupt shard manifest {path}: {error}") from None
        if not isinstance(manifest, dict) or manifest.get("format") != _FORMAT:
            raise ValueError(f"{path} is not a quarn shard manifest of a known format")
        if manifest.get("hash") != HASH:
            raise ValueError(f"{path} routes ids by hash {manifest.get('hash')!r}; this version knows only {HASH!r}")
        if shards is not None and shards != manifest["shards"]:
            raise ValueError(
                f"{root} holds {manifest['shards']} shards, not {shards}: every id is routed by its hash modulo "
                f"the shard count, so opening with another count would lose track of records; open it with "
                f"shards={manifest['shards']} or shards=None")
        return manifest
    if dim is None:
        raise ValueError(f"sharded database not found at {root} — specify shards and dim to create a new one")
    if shards is None:
        raise ValueError("specify shards to create a new sharded database")
    if isinstance(shards, bool) or not isinstance(shards, int):
        raise TypeError("argument 'shards': expected int")
    if not 1 <= shards <= 999:
        raise ValueError("shards must be between 1 and 999")
    if os.path.isdir(root) and any(name.startswith("shard-") for name in os.listdir(root)):
        raise ValueError(f"{root} holds shard directories but no {MANIFEST}; refusing to guess their layout")
    manifest = {"format": _FORMAT, "shards": shards, "hash": HASH,
                **_canonical_parameters(dim, metric, m, ef_construction, quantize)}
    os.makedirs(root, exist_ok=True)
    _write_json_atomically(path, manifest)
    return manifest


# --------------------------------------------------------------------------------------------


class ShardedDatabase:
    """A quarn collection split over ``shards`` Ray actors, with the calls of ``quarn.Database``.

    ``root``: directory of the manifest and of ``shard-NNN``; on several machines it must be on a
    file system every node reaches at the same path. Creating needs ``shards`` and ``dim``; reopening
    takes both from the manifest (a different ``shards`` is refused), like the other parameters,
    which win over the arguments as they do for ``Database``. ``replicas``: read-only actors per
    shard that serve searches and reopen after every ``save``. ``address``: Ray cluster to join
    when Ray is not initialised yet (None starts or finds a local one). ``actor_options``: extra
    ``.options()`` for every actor (the default asks for no CPUs and spreads actors over nodes).
    ``max_restarts``: how often Ray may restart a dead actor (-1: without limit).
    """

    def __init__(self, root, shards: Optional[int] = None, dim: Optional[int] = None, metric: Optional[str] = None,
                 m: Optional[int] = None, ef_construction: Optional[int] = None, quantize: bool = False,
                 replicas: int = 0, address: Optional[str] = None, *, max_restarts: int = -1,
                 actor_options: Optional[dict] = None, restart_timeout: float = 60.0):
        root = os.path.abspath(os.fspath(root))
        if isinstance(replicas, bool) or not isinstance(replicas, int) or replicas < 0:
            raise ValueError("replicas must be a non-negative int")
        manifest = _load_or_create_manifest(root, shards, dim, metric, m, ef_construction, quantize)
        if not ray.is_initialized():
            ray.init(address=address, ignore_reinit_error=True)
        self._root = root
        self._manifest = manifest
        self._shards = manifest["shards"]
        self._restart_timeout = restart_timeout
        self._lock = threading.Lock()
        self._turn = 0
        self._closed = False
        params = {key: manifest[key] for key in ("dim", "metric", "m", "ef_construction", "quantize")}
        options = {"num_cpus": 0, "scheduling_strategy": "SPREAD", **(actor_options or {}),
                   "max_restarts": max_restarts, "max_task_retries": 0}
        writer_cls = ray.remote(_ShardActor).options(**options)
        # A restarted writer waits briefly for its dead predecessor to let go of the directory;
        # a directory held by a live writer elsewhere is refused after that wait.
        self._writers = [writer_cls.remote(self.shard_path(s), params, min(restart_timeout, 10.0))
                         for s in range(self._shards)]
        self._replicas: list = [[] for _ in range(self._shards)]
        try:
            self._each(lambda s, w: w.ready.remote(), "open")
            if replicas:
                replica_cls = ray.remote(_ReplicaActor).options(**options)
                self._replicas = [[replica_cls.remote(self.shard_path(s)) for _ in range(replicas)]
                                  for s in range(self._shards)]
                self._gather({(s, r): a.ready.remote for s, group in enumerate(self._replicas)
                              for r, a in enumerate(group)}, "replica open")
        except BaseException:
            self.close()
            raise

    # ---- plumbing ------------------------------------------------------------------------

    def shard_path(self, shard: int) -> str:
        return os.path.join(self._root, f"shard-{shard:03d}")

    def _check_open(self) -> None:
        if self._closed:
            raise ValueError("the sharded database is closed")

    def _lost(self, shard, what: str, error: BaseException, outcome: str = _NO_PARTIAL) -> ShardUnavailableError:
        shard = shard[0] if isinstance(shard, tuple) else shard
        detail = str(error).strip().split("\n")[0].rstrip(".")
        detail = detail if len(detail) <= 160 else detail[:157] + "..."
        return ShardUnavailableError(
            f"shard {shard} ({self.shard_path(shard)}) failed during {what}: {type(error).__name__}: {detail}. "
            f"{outcome} Ray restarts the actor from its directory; retry the call.")

    def _get(self, shard: int, ref, what: str, outcome: str = _NO_PARTIAL):
        """The value of one shard reply; raises the engine's error or ShardUnavailableError."""
        try:
            status, value = ray.get(ref)
        except RayError as error:
            raise self._lost(shard, what, error, outcome) from None
        if status == "err":
            raise value
        return value

    def _each(self, submit, what: str, shards=None, outcome: str = _NO_PARTIAL, retry: bool = False) -> dict:
        """Runs submit(shard, writer) on the shards in parallel; every reply is awaited before any error is raised."""
        shards = range(self._shards) if shards is None else shards
        return self._gather({s: (lambda s=s: submit(s, self._writers[s])) for s in shards}, what, outcome, retry)

    def _gather(self, calls: dict, what: str, outcome: str = _NO_PARTIAL, retry: bool = False) -> dict:
        """Submits every call at once and awaits them all; a key is a shard or (shard, replica).

        With ``retry`` (reads only, which are safe to repeat) a call that met a dead or unreachable
        actor is sent again, up to twice, and waits for Ray's restart of it.
        """
        refs = {key: call() for key, call in calls.items()}
        values, first_error = {}, None
        for key, ref in refs.items():
            for attempt in range(_READ_ATTEMPTS if retry else 1):
                try:
                    values[key] = self._get(key, ref, what, outcome)
                    break
                except ShardUnavailableError as error:
                    if attempt + 1 < (_READ_ATTEMPTS if retry else 1):
                        time.sleep(0.2 * (attempt + 1))
                        ref = calls[key]()
                        continue
                    first_error = first_error or error
                except Exception as error:  # noqa: BLE001 - raised once every shard has answered
                    first_error = first_error or error
                    break
        if first_error is not None:
            raise first_error
        return values

    def _reader(self, shard: int):
        group = self._replicas[shard]
        if not group:
            return self._writers[shard]
        with self._lock:
            self._turn += 1
            turn = self._turn
        return group[turn % len(group)]

    def _split(self, ids: list) -> dict:
        """Positions of the batch per shard, in batch order."""
        groups: dict = {}
        for position, id in enumerate(ids):
            groups.setdefault(shard_of(id, self._shards), []).append(position)
        return {s: np.asarray(p, dtype=np.intp) for s, p in sorted(groups.items())}

    def _await_restart(self, shard: int) -> bool:
        """Waits until Ray has restarted a shard's writer and it has reopened its directory."""
        deadline = time.monotonic() + self._restart_timeout
        while time.monotonic() < deadline:
            try:
                status, _ = ray.get(self._writers[shard].ready.remote(),
                                    timeout=max(0.1, deadline - time.monotonic()))
                return status == "ok"
            except RayActorError:
                time.sleep(0.2)  # still restarting
            except RayError:
                return False
        return False

    # ---- properties and plumbing for users --------------------------------------------------

    @property
    def root(self) -> str:
        return self._root

    @property
    def shards(self) -> int:
        return self._shards

    @property
    def dim(self) -> int:
        return self._manifest["dim"]

    @property
    def metric(self) -> str:
        return self._manifest["metric"]

    @property
    def manifest(self) -> dict:
        return dict(self._manifest)

    @property
    def actors(self) -> list:
        """The writer actor of each shard, by shard number."""
        return list(self._writers)

    @property
    def replica_actors(self) -> list:
        return [list(group) for group in self._replicas]

    def shard_of(self, id: str) -> int:
        return shard_of(id, self._shards)

    def _properties(self) -> list:
        self._check_open()
        return list(self._each(lambda s, w: w.call.remote("properties"), "properties", retry=True).values())

    @property
    def total_slots(self) -> int:
        return sum(p["total_slots"] for p in self._properties())

    @property
    def deleted_count(self) -> int:
        return sum(p["deleted_count"] for p in self._properties())

    @property
    def quantized_search(self) -> bool:
        return all(p["quantized_search"] for p in self._properties())

    # ---- single-id calls ------------------------------------------------------------------

    def _one(self, method: str, id: str, *args, read: bool = False, **kwargs):
        self._check_open()
        if not isinstance(id, str):
            raise TypeError(f"argument 'id': expected str, got {type(id).__name__}")
        shard = shard_of(id, self._shards)
        call = {shard: lambda: self._writers[shard].call.remote(method, id, *args, **kwargs)}
        return self._gather(call, method, _NO_PARTIAL if read else _MAYBE_APPLIED, retry=read)[shard]

    def add(self, id: str, vector, metadata: Optional[dict] = None) -> None:
        return self._one("add", id, vector, metadata)

    def upsert(self, id: str, vector, metadata: Optional[dict] = None) -> None:
        return self._one("upsert", id, vector, metadata)

    def update(self, id: str, vector=None, metadata: Optional[dict] = None) -> None:
        return self._one("update", id, vector=vector, metadata=metadata)

    def get(self, id: str):
        return self._one("get", id, read=True)

    def delete(self, id: str) -> bool:
        return self._one("delete", id)

    def __contains__(self, id) -> bool:
        if not isinstance(id, str):
            raise TypeError(f"argument 'id': expected str, got {type(id).__name__}")
        return self._one("contains", id, read=True)

    # ---- batch writes -----------------------------------------------------------------------

    def add_many(self, ids, vectors, metadatas: Optional[list] = None) -> None:
        self._write_many("add_many", ids, vectors, metadatas)

    def upsert_many(self, ids, vectors, metadatas: Optional[list] = None) -> None:
        """Batch upsert — inserts new vectors, updates existing ones."""
        self._write_many("upsert_many", ids, vectors, metadatas)

    def delete_many(self, ids) -> int:
        self._check_open()
        ids = _ids_arg(ids)
        groups = self._split(ids)
        parts = {s: [ids[p] for p in positions] for s, positions in groups.items()}
        before = self._each(lambda s, w: w.records.remote(parts[s]), "delete_many", parts, _NOTHING_WRITTEN, True)
        refs = {s: self._writers[s].call.remote("delete_many", parts[s]) for s in parts}
        undo = {s: ([], *before[s]) for s in parts}
        counts = self._settle("delete_many", refs, parts, undo)
        return sum(counts.values())

    def _write_many(self, method: str, ids, vectors, metadatas) -> None:
        self._check_open()
        ids = _ids_arg(ids)
        if isinstance(vectors, (np.ndarray, Sequence)) and not isinstance(vectors, str) and len(vectors) != len(ids):
            raise ValueError(f"ids length ({len(ids)}) != vectors length ({len(vectors)})")
        matrix = _matrix_arg(vectors, self.dim)
        metadatas = _metadatas_arg(metadatas, len(ids))
        if not ids:
            return
        groups = self._split(ids)
        parts = {s: [ids[p] for p in positions] for s, positions in groups.items()}
        if method == "add_many":
            existing = self._each(lambda s, w: w.existing.remote(parts[s]), method, parts, _NOTHING_WRITTEN, True)
            clashes = {i for found in existing.values() for i in found}
            if clashes:
                first = next(i for i in ids if i in clashes)
                raise ValueError(f"id '{first}' already exists, use upsert instead")
            undo = {s: (sorted(set(parts[s])), [], np.empty((0, self.dim), np.float32), []) for s in parts}
        else:
            before = self._each(lambda s, w: w.records.remote(parts[s]), method, parts, _NOTHING_WRITTEN, True)
            undo = {}
            for s, (present, old_vectors, old_metas) in before.items():
                created = sorted(set(parts[s]) - set(present))
                undo[s] = (created, present, old_vectors, old_metas)
        refs = {}
        for s, positions in groups.items():
            # One contiguous float32 block per shard: it travels through the object store and
            # reaches the actor as a read-only array, with no Python object per row.
            block = ray.put(np.ascontiguousarray(matrix[positions]))
            refs[s] = self._writers[s].call.remote(method, parts[s], block, [metadatas[p] for p in positions])
        self._settle(method, refs, parts, undo)

    def _settle(self, method: str, refs: dict, parts: dict, undo: dict) -> dict:
        """Awaits every shard's part of a batch; on any failure rolls back the parts that may be stored."""
        done, refused, lost = {}, {}, {}
        for s, ref in refs.items():
            try:
                status, value = ray.get(ref)
            except RayError as error:
                lost[s] = error
                continue
            if status == "ok":
                done[s] = value
            else:
                refused[s] = value
        if not refused and not lost:
            return done

        undone, stuck, unreachable = [], {}, []
        for s in sorted(set(done) | set(lost)):
            if s in lost and not self._await_restart(s):
                unreachable.append(s)
                continue
            try:
                self._get(s, self._writers[s].restore.remote(*undo[s]), "rollback", _MAYBE_APPLIED)
                undone.append(s)
            except Exception as error:  # noqa: BLE001 - reported below with the ids concerned
                if s in lost:
                    unreachable.append(s)
                else:
                    stuck[s] = error

        cause = refused[min(refused)] if refused else None
        if cause is not None:
            first = min(refused)
            reason = f"shard {first} refused its part: {cause}"
        else:
            first = min(lost)
            reason = (f"shard {first} ({self.shard_path(first)}) failed while writing: "
                      f"{type(lost[first]).__name__}")
        if not stuck and not unreachable:
            undone_text = f"; the parts on shards {undone} were rolled back" if undone else ""
            message = f"{method}: {reason}; nothing was written{undone_text}"
            if isinstance(cause, (ValueError, TypeError, OverflowError)):
                raise type(cause)(message) from None
            if cause is not None:
                raise ShardError(message) from None
            raise ShardUnavailableError(message + ". Ray restarted the actor from its directory; retry the call.")
        written = [i for s in sorted(stuck) for i in parts[s]]
        unknown = [i for s in sorted(unreachable) for i in parts[s]]
        not_written = [i for s in sorted(parts) if s not in stuck and s not in unreachable for i in parts[s]]
        message = (f"{method}: {reason}; the batch could not be rolled back everywhere: "
                   f"{len(written)} ids written on shards {sorted(stuck)}, {len(unknown)} ids of unknown outcome "
                   f"on unreachable shards {sorted(unreachable)}, {len(not_written)} ids not written")
        raise PartialWriteError(message, written, not_written, unknown) from None

    # ---- reads across shards --------------------------------------------------------------

    def _fan_out_reads(self, method: str, *args, **kwargs) -> list:
        self._check_open()
        calls = {s: (lambda s=s: self._reader(s).call.remote(method, *args, **kwargs)) for s in range(self._shards)}
        values = self._gather(calls, method, retry=True)
        return [values[s] for s in range(self._shards)]

    def search(self, vector, k: int = 10, ef_search: Optional[int] = None, where_filter: Optional[dict] = None,
               max_distance: Optional[float] = None) -> list:
        """Search for the k nearest neighbors on every shard and merge them into one ascending list."""
        parts = self._fan_out_reads("search", vector, k=k, ef_search=ef_search, where_filter=where_filter,
                                    max_distance=max_distance)
        return _merge(parts, k)

    def search_many(self, vectors, k: int = 10, ef_search: Optional[int] = None,
                    where_filter: Optional[dict] = None, max_distance: Optional[float] = None) -> list:
        """Search multiple queries on every shard in parallel. Returns list of list of SearchResult."""
        if isinstance(vectors, np.ndarray) and vectors.dtype == np.float32 and vectors.ndim == 2:
            if not vectors.flags.c_contiguous:
                raise TypeError("The given array is not contiguous")
        elif isinstance(vectors, (list, tuple)) and vectors:
            try:  # rows of one length become one block; anything else goes as it is, for the shards' errors
                matrix = np.array(vectors)
                if matrix.ndim == 2 and matrix.dtype.kind in "biuf":
                    vectors = np.ascontiguousarray(matrix, dtype=np.float32)
            except (TypeError, ValueError):
                pass
        if isinstance(vectors, np.ndarray):
            vectors = ray.put(vectors)  # stored once, read by every shard
        parts = self._fan_out_reads("search_many", vectors, k=k, ef_search=ef_search, where_filter=where_filter,
                                    max_distance=max_distance)
        if not parts:
            return []
        return [_merge([part[q] for part in parts], k) for q in range(len(parts[0]))]

    def count(self, where_filter: Optional[dict] = None) -> int:
        """Count vectors matching a filter, or all vectors if no filter."""
        self._check_open()
        return sum(self._each(lambda s, w: w.call.remote("count", where_filter), "count", retry=True).values())

    def __len__(self) -> int:
        self._check_open()
        return sum(self._each(lambda s, w: w.call.remote("len"), "len", retry=True).values())

    def ids(self) -> list:
        self._check_open()
        values = self._each(lambda s, w: w.call.remote("ids"), "ids", retry=True)
        return [i for s in range(self._shards) for i in values[s]]

    # ---- whole-collection operations --------------------------------------------------------

    def save(self) -> None:
        """Saves every shard in parallel, then reopens the replicas on the new snapshots."""
        self._check_open()
        self._each(lambda s, w: w.call.remote("save"), "save")
        self._refresh_replicas()

    def _refresh_replicas(self) -> None:
        if not any(self._replicas):
            return
        self._gather({(s, r): a.reload.remote for s, group in enumerate(self._replicas) for r, a in enumerate(group)},
                     "replica reload", retry=True)

    def refresh_replicas(self) -> None:
        """Reopens the replicas now, so that they also see the writes logged since the last save."""
        self._check_open()
        self._refresh_replicas()

    def compact(self) -> None:
        """Rebuild every shard's index with only live vectors, in parallel."""
        self._check_open()
        self._each(lambda s, w: w.call.remote("compact"), "compact")

    def enable_quantized_search(self) -> None:
        self._set_quantized(True)

    def disable_quantized_search(self) -> None:
        self._set_quantized(False)

    def _set_quantized(self, on: bool) -> None:
        self._check_open()
        method = "enable_quantized_search" if on else "disable_quantized_search"
        self._each(lambda s, w: w.call.remote(method), method)
        self._gather({(s, r): (lambda a=a: a.set_quantized.remote(on)) for s, group in enumerate(self._replicas)
                      for r, a in enumerate(group)}, method, retry=True)

    def stats(self) -> dict:
        """Statistics of every shard, and totals: sums of counts and memory, extremes of degrees and layers."""
        self._check_open()
        values = self._each(lambda s, w: w.call.remote("stats"), "stats", retry=True)
        per_shard = [values[s] for s in range(self._shards)]
        vectors = sum(st["num_vectors"] for st in per_shard)
        totals = {key: sum(st[key] for st in per_shard)
                  for key in ("num_vectors", "num_deleted", "reachable_layer0", "memory_vectors_bytes",
                              "memory_graph_bytes", "memory_quantized_bytes")}
        totals["num_layers"] = max(st["num_layers"] for st in per_shard)
        totals["max_degree_layer0"] = max(st["max_degree_layer0"] for st in per_shard)
        totals["min_degree_layer0"] = min(st["min_degree_layer0"] for st in per_shard)
        totals["avg_degree_layer0"] = (sum(st["avg_degree_layer0"] * st["num_vectors"] for st in per_shard) / vectors
                                       if vectors else 0.0)
        totals["uses_brute_force"] = all(st["uses_brute_force"] for st in per_shard)
        totals["uses_quantized_search"] = all(st["uses_quantized_search"] for st in per_shard)
        return {"shards": per_shard, "totals": totals}

    def _inject_fault(self, shard: int, method: str, error: Optional[Exception]) -> None:
        """Test hook: shard's next ``method`` call (or ``"restore"``) fails with ``error``, writing nothing;
        with None, the shard's actor writes and then dies before answering."""
        ray.get(self._writers[shard].inject_fault.remote(method, error))

    def close(self) -> None:
        """Releases every shard directory and ends the actors; nothing is saved. Idempotent."""
        if self._closed:
            return
        self._closed = True
        actors = [*self._writers, *(a for group in self._replicas for a in group)]
        refs = [a.close.remote() for a in actors]
        for ref in refs:
            try:
                ray.get(ref, timeout=self._restart_timeout)
            except RayError:
                pass
        for actor in actors:
            ray.kill(actor, no_restart=True)

    def __enter__(self) -> "ShardedDatabase":
        return self

    def __exit__(self, exc_type=None, exc_val=None, exc_tb=None) -> bool:
        """Saves every shard, also when the block raised, then closes."""
        try:
            self.save()
        finally:
            self.close()
        return False

    def __repr__(self) -> str:
        return (f"ShardedDatabase({self._root!r}, shards={self._shards}, dim={self.dim}, "
                f"metric={self.metric!r}, replicas={len(self._replicas[0]) if self._replicas else 0})")
