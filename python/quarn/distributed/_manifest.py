"""``root/quarn-shards.json``: the shard count, the routing hash and the parameters every shard
is created with. It is written once, atomically, when the collection is created."""

from __future__ import annotations

import json
import os
import tempfile
from typing import Optional

from quarn.distributed._routing import HASH

MANIFEST = "quarn-shards.json"
FORMAT = "quarn-sharded/1"
PARAMETERS = ("dim", "metric", "m", "ef_construction", "quantize")


def read_manifest(root: str, shards) -> Optional[dict]:
    """The manifest of an existing collection, or None when root holds none."""
    path = os.path.join(root, MANIFEST)
    if not os.path.exists(path):
        return None
    with open(path) as f:
        try:
            manifest = json.load(f)
        except ValueError as error:
            raise ValueError(f"corrupt shard manifest {path}: {error}") from None
    if not isinstance(manifest, dict) or manifest.get("format") != FORMAT:
        raise ValueError(f"{path} is not a quarn shard manifest of a known format")
    if manifest.get("hash") != HASH:
        raise ValueError(f"{path} routes ids by hash {manifest.get('hash')!r}; this version knows only {HASH!r}")
    if shards is not None and shards != manifest["shards"]:
        raise ValueError(
            f"{root} holds {manifest['shards']} shards, not {shards}: every id is routed by its hash modulo "
            f"the shard count, so opening with another count would lose track of records; open it with "
            f"shards={manifest['shards']} or shards=None")
    return manifest


def check_new_layout(root: str, shards, dim) -> int:
    """The shard count of a new collection; refuses one without the arguments it needs, or over stray
    shard directories."""
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
    return shards


# The keyword settings every shard is created with; a manifest holds them only when they are not
# the defaults, so a collection that never chose any has the manifest it always had.
DEFAULT_KEYWORD = {"stemmer": None, "stop_words": None, "k1": 1.2000000476837158, "b": 0.75}


def create_manifest(root: str, shards: int, parameters: dict) -> dict:
    manifest = {"format": FORMAT, "shards": shards, "hash": HASH, **{key: parameters[key] for key in PARAMETERS}}
    if parameters.get("keyword", DEFAULT_KEYWORD) != DEFAULT_KEYWORD:
        manifest["keyword"] = parameters["keyword"]
    os.makedirs(root, exist_ok=True)
    _write_json_atomically(os.path.join(root, MANIFEST), manifest)
    return manifest


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
