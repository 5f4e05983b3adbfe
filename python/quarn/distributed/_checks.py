"""Argument checks by the binding itself, on the caller's side, before any shard is asked.

An empty read-only ``quarn.Database`` of the collection's dimension and metric runs each call's
arguments through the binding's own conversions: what it refuses is refused with the error a
single database gives (rows and positions counted over the whole batch, not over one shard's
part), and a batch it passes cannot be refused by a shard for its arguments. Writes end in the
engine's read-only refusal, which is how a passed check is told from a failed one.
"""

from __future__ import annotations

import os
import shutil
import tempfile
import weakref

import quarn



class ArgumentChecks:
    def __init__(self, dim, metric=None, m=None, ef_construction=None, quantize=False, durability="flush"):
        """Creates the scratch database, with the engine's own errors for bad creation parameters."""
        self._dir = tempfile.mkdtemp(prefix="quarn-checks-")
        self._cleanup = weakref.finalize(self, shutil.rmtree, self._dir, True)
        path = os.path.join(self._dir, "db")
        try:
            quarn.Database(path, dim=dim, metric=metric, m=m, ef_construction=ef_construction,
                           quantize=quantize).close()
            self.db = quarn.Database(path, read_only=True, durability=durability)
        except BaseException:
            self._cleanup()
            raise
        self._quantize = quantize
        try:
            self.db.delete("")
        except ValueError as error:
            self._refusal = str(error)
        else:  # pragma: no cover - every check below relies on this refusal
            raise RuntimeError("a read-only database accepted a write")

    def parameters(self) -> dict:
        """The parameters the engine gave the scratch database, for the manifest."""
        return {"dim": self.db.dim, "metric": self.db.metric, "m": self.db.m,
                "ef_construction": self.db.ef_construction, "quantize": bool(self._quantize)}

    def write(self, method: str, *args) -> None:
        """Raises what a single database's ``method`` raises for these arguments before it writes."""
        try:
            getattr(self.db, method)(*args)
        except ValueError as error:
            if type(error) is not ValueError or str(error) != self._refusal:
                raise

    def read(self, method: str, *args, **kwargs):
        """The answer of the empty database, or the error a single database raises for these arguments."""
        return getattr(self.db, method)(*args, **kwargs)

    def close(self) -> None:
        self.db.close()
        self._cleanup()
