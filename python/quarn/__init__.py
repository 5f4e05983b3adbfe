"""Embedded vector database: HNSW search with metadata filters, a write-ahead log and snapshots.

``Database`` is the one class to use; ``SearchResult`` is what its searches return.
"""

from quarn._database import Database, Record, SearchArrays
from quarn._quarn import SearchResult
from quarn._version import __version__

__all__ = ["Database", "Record", "SearchArrays", "SearchResult", "__version__"]
