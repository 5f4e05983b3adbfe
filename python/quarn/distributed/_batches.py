"""Batch writes over the shards, all-or-nothing: checked on the caller's side and against every
shard before anything is written; if a shard still fails while writing, the parts already
written on the others are rolled back, and only when that too fails does the caller learn which
ids were written (PartialWriteError)."""

from __future__ import annotations

import numpy as np
import ray
from ray.exceptions import RayError

from quarn.distributed._errors import MAYBE_APPLIED, NOTHING_WRITTEN, PartialWriteError, ShardError, \
    ShardUnavailableError
from quarn.distributed._routing import split


def write_many(shards, checks, method: str, ids, vectors, metadatas, documents=None) -> None:
    """add_many or upsert_many of the whole batch."""
    checks.write(method, ids, vectors, metadatas, documents=documents)
    ids = [str(i) for i in ids]
    if not ids:
        return
    dim = checks.db.dim
    matrix = np.ascontiguousarray(np.asarray(vectors, dtype=np.float32)).reshape(len(ids), dim)
    metadatas = [None] * len(ids) if metadatas is None else metadatas
    documents = [None] * len(ids) if documents is None else list(documents)
    groups = split(ids, shards.count)
    parts = {s: [ids[p] for p in positions] for s, positions in groups.items()}
    undo: dict
    if method == "add_many":
        existing = shards.each(lambda s, w: w.existing.remote(parts[s]), method, parts, NOTHING_WRITTEN, True)
        clashes = {i for found in existing.values() for i in found}
        if clashes:
            first = next(i for i in ids if i in clashes)
            raise ValueError(f"id '{first}' already exists, use upsert instead")
        undo = {s: (sorted(set(parts[s])), [], np.empty((0, dim), np.float32), [], []) for s in parts}
    else:
        before = shards.each(lambda s, w: w.records.remote(parts[s]), method, parts, NOTHING_WRITTEN, True)
        undo = {}
        for s, (present, old_vectors, old_metas, old_documents) in before.items():
            created = sorted(set(parts[s]) - set(present))
            undo[s] = (created, present, old_vectors, old_metas, old_documents)
    refs = {}
    for s, positions in groups.items():
        # One contiguous float32 block per shard: it travels through the object store and
        # reaches the actor as a read-only array, with no Python object per row.
        block = ray.put(np.ascontiguousarray(matrix[positions]))
        refs[s] = shards.writers[s].call.remote(method, parts[s], block, [metadatas[p] for p in positions],
                                                documents=[documents[p] for p in positions])
    settle(shards, method, refs, parts, undo)


def delete_many(shards, checks, ids) -> int:
    checks.write("delete_many", ids)
    ids = [str(i) for i in ids]
    parts = {s: [ids[p] for p in positions] for s, positions in split(ids, shards.count).items()}
    before = shards.each(lambda s, w: w.records.remote(parts[s]), "delete_many", parts, NOTHING_WRITTEN, True)
    refs = {s: shards.writers[s].call.remote("delete_many", parts[s]) for s in parts}
    undo = {s: ([], *before[s]) for s in parts}
    return sum(settle(shards, "delete_many", refs, parts, undo).values())


def settle(shards, method: str, refs: dict, parts: dict, undo: dict) -> dict:
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
        if s in lost and not shards.await_restart(s):
            unreachable.append(s)
            continue
        try:
            shards.get(s, shards.writers[s].restore.remote(*undo[s]), "rollback", MAYBE_APPLIED)
            undone.append(s)
        except Exception as error:  # noqa: BLE001 - reported below with the ids concerned
            if s in lost:
                unreachable.append(s)
            else:
                stuck[s] = error

    cause = refused[min(refused)] if refused else None
    if cause is not None:
        reason = f"shard {min(refused)} refused its part: {cause}"
    else:
        first = min(lost)
        reason = f"shard {first} ({shards.path(first)}) failed while writing: {type(lost[first]).__name__}"
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
