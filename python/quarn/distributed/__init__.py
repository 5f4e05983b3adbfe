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
merged; bulk reads (``get_many``, ``ids``, iteration) ask each shard for its own ids. A dead actor
is restarted by Ray and reopens its directory (snapshot plus log); a call that was in flight
raises ``ShardUnavailableError`` rather than returning partial results.

Needs Ray: ``pip install 'quarn[ray]'``.
"""

try:
    import ray  # noqa: F401
except ImportError as error:  # pragma: no cover - exercised only without Ray
    raise ImportError("quarn.distributed needs Ray: pip install 'quarn[ray]'") from error

from quarn.distributed._database import ShardedDatabase
from quarn.distributed._errors import PartialWriteError, ShardError, ShardUnavailableError
from quarn.distributed._manifest import MANIFEST
from quarn.distributed._results import SearchResult
from quarn.distributed._results import merge as _merge  # noqa: F401 - bench/sharded.py times it
from quarn.distributed._routing import HASH, shard_of

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

# Pickles and reprs name the public place, which stays put while the modules behind it move.
for _public in (ShardedDatabase, SearchResult, ShardError, ShardUnavailableError, PartialWriteError, shard_of):
    _public.__module__ = __name__
del _public
