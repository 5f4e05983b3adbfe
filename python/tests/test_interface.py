"""What introspection sees: module contents, text signatures, docstrings and the type stubs."""
import ast
import inspect
import pathlib

import _quarn
import quarn

SIGNATURES = {
    "add": ("($self, id, vector, metadata=None)", None),
    "upsert": ("($self, id, vector, metadata=None)", "Add or update a vector."),
    "add_many": ("($self, ids, vectors, metadatas=None)", None),
    "search": (
        "($self, vector, k=10, ef_search=None, where_filter=None, max_distance=None)",
        "Search for the k nearest neighbors.\n"
        "Returns list of SearchResult objects with .id, .distance, .metadata attributes.\n"
        '`where_filter`: optional dict like {"field": "value"} or {"field": {"$ne": "value"}}\n'
        "`max_distance`: optional float — discard results beyond this distance.",
    ),
    "search_many": (
        "($self, vectors, k=10, ef_search=None, where_filter=None, max_distance=None)",
        "Search multiple queries in parallel. Returns list of list of SearchResult.\n"
        "`where_filter`: optional metadata filter (same syntax as search).\n"
        "`max_distance`: optional float — discard results beyond this distance.",
    ),
    "get": ("($self, id)", None),
    "delete": ("($self, id)", None),
    "delete_many": ("($self, ids)", None),
    "update": ("($self, id, vector=None, metadata=None)", None),
    "upsert_many": ("($self, ids, vectors, metadatas=None)",
                    "Batch upsert — inserts new vectors, updates existing ones."),
    "count": ("($self, where_filter=None)", "Count vectors matching a filter, or all vectors if no filter."),
    "ids": ("($self)", None),
    "save": ("($self)", None),
    "compact": ("($self)", "Rebuild the index with only live vectors, reclaiming deleted slots.\n"
                           "Call this after many deletes to reduce memory usage and disk size."),
    "enable_quantized_search": (
        "($self)",
        "Enable quantized search: uses SQ8 quantized vectors for faster HNSW traversal\n"
        "with full-precision re-ranking. Automatically enabled when quantize=True is set.",
    ),
    "disable_quantized_search": ("($self)", "Disable quantized search."),
    "stats": (
        "($self)",
        "Get graph-level statistics for diagnostics.\n"
        "Returns a dict with keys: num_vectors, num_deleted, num_layers, avg_degree_layer0,\n"
        "max_degree_layer0, min_degree_layer0, memory_vectors_bytes, memory_graph_bytes,\n"
        "memory_quantized_bytes, uses_brute_force, uses_quantized_search.",
    ),
    "__enter__": ("($self)", "Context manager: auto-save and close on exit."),
    "__exit__": ("($self, _exc_type=None, _exc_val=None, _exc_tb=None)", None),
    "close": ("($self)", "Release the database: the log is closed and the directory's writer lock freed; nothing\n"
                         "is saved. Calling it again does nothing; any other use afterwards raises ValueError."),
}

PROPERTIES = {
    "dim": None,
    "metric": None,
    "total_slots": "Total allocated slots (active + deleted).",
    "deleted_count": "Number of deleted slots that haven't been reclaimed.",
    "quantized_search": "Whether quantized search is currently enabled.",
    "read_only": "Whether the database was opened with read_only=True.",
    "closed": "Whether close() has been called.",
}


def test_module_holds_exactly_the_two_classes():
    public = [name for name in vars(_quarn) if not name.startswith("__")]
    assert public == ["Database", "SearchResult"]
    assert _quarn.__doc__ in ("", None)
    assert quarn.Database is _quarn.Database and quarn.SearchResult is _quarn.SearchResult
    assert quarn.__all__ == ["Database", "SearchResult"]


def test_class_signature_and_docstrings():
    assert str(inspect.signature(quarn.Database)) == \
        "(path, dim=None, metric=None, m=None, ef_construction=None, quantize=False, read_only=False)"
    assert not quarn.Database.__doc__
    assert quarn.SearchResult.__doc__ is None
    assert quarn.SearchResult.__text_signature__ is None


def test_method_text_signatures_and_docstrings(path):
    db = quarn.Database(path, dim=2)
    for name, (signature, doc) in SIGNATURES.items():
        method = getattr(quarn.Database, name)
        assert method.__text_signature__ == signature, name
        assert (method.__doc__ or None) == doc, name
        bound = str(inspect.signature(getattr(db, name)))
        assert bound == signature.replace("$self, ", "").replace("$self", ""), name


def test_properties_and_their_docstrings():
    for name, doc in PROPERTIES.items():
        descriptor = vars(quarn.Database)[name]
        assert descriptor.__doc__ == doc, name
        assert not hasattr(descriptor, "__set__") or getattr(descriptor, "fset", None) is None


def test_the_stub_describes_every_public_member():
    import sysconfig

    candidates = [pathlib.Path(_quarn.__file__).with_name("_quarn.pyi"),
                  pathlib.Path(__file__).resolve().parents[1] / "_quarn.pyi",
                  pathlib.Path(sysconfig.get_paths()["platlib"]) / "_quarn.pyi"]
    stub = next(p for p in candidates if p.exists())
    tree = ast.parse(stub.read_text())
    classes = {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}
    described = {item.name for item in classes["Database"].body if isinstance(item, ast.FunctionDef)}
    assert set(SIGNATURES) | set(PROPERTIES) | {"__init__", "__len__", "__contains__"} == described
    result = {item.name for item in classes["SearchResult"].body if isinstance(item, ast.FunctionDef)}
    assert result == {"id", "distance", "metadata", "__getitem__"}
