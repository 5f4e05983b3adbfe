"""What introspection sees: package contents, signatures and docstrings."""
import inspect

import quarn
from quarn import _quarn

SIGNATURES = {
    "add": "(id, vector, metadata=None, document=None)",
    "upsert": "(id, vector, metadata=None, document=None)",
    "add_many": "(ids, vectors, metadatas=None, *, progress=None, documents=None)",
    "upsert_many": "(ids, vectors, metadatas=None, *, progress=None, documents=None)",
    "update": "(id, vector=None, metadata=None, document=Ellipsis)",
    "get": "(id)",
    "get_many": "(ids, include_vectors=True, include_documents=False)",
    "delete": "(id)",
    "delete_many": "(ids)",
    "search": "(vector, k=10, ef_search=None, where_filter=None, max_distance=None, include_vectors=False,"
              " include_documents=False)",
    "search_many": "(vectors, k=10, ef_search=None, where_filter=None, max_distance=None, include_vectors=False,"
                   " include_documents=False)",
    "search_many_arrays": "(vectors, k=10, ef_search=None, where_filter=None, max_distance=None)",
    "records": "(batch_size=1024, include_vectors=True)",
    "count": "(where_filter=None)",
    "ids": "(where=None, limit=None, offset=0)",
    "save": "()",
    "compact": "()",
    "verify": "()",
    "enable_quantized_search": "()",
    "disable_quantized_search": "()",
    "stats": "()",
    "close": "()",
}

PROPERTIES = ["path", "dim", "metric", "total_slots", "deleted_count", "quantized_search", "read_only", "closed"]


def test_package_exports():
    assert quarn.__all__ == ["Database", "Record", "SearchArrays", "SearchResult", "__version__"]
    assert issubclass(quarn.Database, _quarn.Database) and quarn.SearchResult is _quarn.SearchResult
    assert quarn.Database.__module__ == "quarn" and quarn.SearchResult.__module__ == "quarn"
    assert [n for n in vars(_quarn) if not n.startswith("__")] == ["Database", "SearchResult"]


def test_signatures_of_bound_methods(path):
    db = quarn.Database(path, dim=2)
    assert str(inspect.signature(quarn.Database)) == \
        "(path, dim=None, metric=None, m=None, ef_construction=None, quantize=False, read_only=False)"
    for name, signature in SIGNATURES.items():
        sig = inspect.signature(getattr(db, name))
        bare = sig.replace(parameters=[p.replace(annotation=p.empty) for p in sig.parameters.values()],
                           return_annotation=sig.empty)
        assert str(bare) == signature, name


def test_every_public_member_has_a_docstring():
    public = [n for n in dir(quarn.Database) if not n.startswith("_")]
    assert set(SIGNATURES) | set(PROPERTIES) == set(public)
    for name in public:
        assert (getattr(quarn.Database, name).__doc__ or "").strip(), name
    for name in ("id", "distance", "metadata", "vector"):
        assert hasattr(quarn.SearchResult, name)
    assert quarn.SearchResult.__doc__ and quarn.Database.__doc__
    for name in ("__enter__", "__exit__", "__iter__"):
        assert getattr(quarn.Database, name).__doc__, name
