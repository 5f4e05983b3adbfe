"""Embedded vector database: HNSW search with metadata filters, a write-ahead log and snapshots.

The classes live in the extension module ``_quarn``; this package re-exports them.
"""

from _quarn import Database, SearchResult

__all__ = ["Database", "SearchResult"]
