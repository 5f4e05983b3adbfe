"""Embedded vector database: HNSW search with metadata filters, a write-ahead log and snapshots.

``Database`` is the one class to use; ``SearchResult`` is what its searches return.
"""

import sys

import _quarn
from _quarn import SearchResult

from quarn._database import Database, Record, SearchArrays
from quarn._version import __version__

# quarn._quarn is the extension module itself, not a second copy of it.
sys.modules.setdefault("quarn._quarn", _quarn)

__all__ = ["Database", "Record", "SearchArrays", "SearchResult", "__version__"]
