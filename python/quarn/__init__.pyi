from _quarn import Database as Database, SearchResult as SearchResult

__all__ = ["Database", "SearchResult"]
