"""The errors of a sharded collection, beside the engine's own ValueError and TypeError."""

from __future__ import annotations

# Endings of the messages, saying what the caller may assume about the state of the shards.
NO_PARTIAL = "No partial result is returned."
MAYBE_APPLIED = "The call may or may not have been applied."
NOTHING_WRITTEN = "Nothing was written."


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

    def __reduce__(self):
        # The default rebuilds an exception from its message alone, which this __init__ refuses.
        return type(self), (str(self), self.written, self.not_written, self.unknown)
