"""Which shard holds an id: a fixed function of the id's bytes, the same on every machine and
Python version, since changing it would strand the records already stored."""

from __future__ import annotations

import hashlib

import numpy as np

HASH = "blake2b-64-le-mod"


def shard_of(id: str, shards: int) -> int:
    """The shard that holds ``id`` among ``shards``: BLAKE2b-64 of its UTF-8 bytes, little-endian, mod shards."""
    digest = hashlib.blake2b(id.encode("utf-8", "surrogatepass"), digest_size=8).digest()
    return int.from_bytes(digest, "little") % shards


def split(ids: list, shards: int) -> dict:
    """Positions of a batch per shard, in batch order, for the shards it touches in ascending order."""
    groups: dict = {}
    for position, id in enumerate(ids):
        groups.setdefault(shard_of(id, shards), []).append(position)
    return {s: np.asarray(p, dtype=np.intp) for s, p in sorted(groups.items())}


def page(counts: list, offset: int, limit) -> dict:
    """The (offset, limit) to ask of each shard for entries offset.. of the shards' lists laid end to
    end in shard order, at most ``limit`` (None: all) of them; shards with nothing to give are left out."""
    plan = {}
    for shard, count in enumerate(counts):
        if limit is not None and limit <= 0:
            break
        if offset >= count:
            offset -= count
            continue
        take = count - offset if limit is None else min(count - offset, limit)
        plan[shard] = (offset, take)
        offset = 0
        if limit is not None:
            limit -= take
    return plan
