"""Text on the sharded collection: the driver embeds once per batch, the shards store; and
delete_where over every shard."""

from __future__ import annotations

from typing import Any, Callable, List, Optional

import numpy as np

from quarn._text import Metadata, TextMethods
from quarn.distributed._batches import settle
from quarn.distributed._errors import NOTHING_WRITTEN


class ShardedTextMethods(TextMethods):
    """The text calls of quarn.Database; the embedding runs on the driver, never on the actors."""

    def _store(self, upsert: bool, ids: List[str], vectors: np.ndarray, metadatas: Optional[List[Optional[Metadata]]],
               texts: List[str], linking: Optional[Callable[[int, int], None]]) -> None:
        write = self.upsert_many if upsert else self.add_many  # type: ignore[attr-defined]
        write(ids, vectors, metadatas, documents=texts)
        if linking is not None:  # the shards link in parallel and do not report; done is done
            linking(len(ids), len(ids))


def delete_where(shards: Any, checks: Any, where_filter: Any) -> int:
    """Each shard deletes its matching records in one batch; if one fails, the others' deletes are
    undone from the records read before, as for delete_many."""
    checks.write("delete_where", where_filter)
    matching = shards.each(lambda s, w: w.call.remote("ids", where_filter), "delete_where", retry=True)
    parts = {s: list(ids) for s, ids in matching.items()}
    before = shards.each(lambda s, w: w.records.remote(parts[s]), "delete_where", parts, NOTHING_WRITTEN, True)
    refs = {s: shards.writers[s].call.remote("delete_where", where_filter) for s in parts}
    undo = {s: ([], *before[s]) for s in parts}
    return sum(settle(shards, "delete_where", refs, parts, undo).values())
