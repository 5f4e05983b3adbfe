"""What introspection sees: the modules, signatures and docstrings. The stub's agreement with the
methods' text signatures is stubtest's (test_types); what stubtest cannot compare is here."""
import ast
import inspect
import pathlib
import sys

import _quarn
import quarn


def test_one_extension_module_under_both_names():
    assert quarn._quarn is _quarn and sys.modules["quarn._quarn"] is _quarn
    assert issubclass(quarn.Database, _quarn.Database) and quarn.SearchResult is _quarn.SearchResult
    assert quarn.__all__ == ["Database", "Record", "SearchArrays", "SearchResult", "__version__"]
    assert quarn.Database.__module__ == "quarn" and quarn.SearchResult.__module__ == "quarn"
    assert [n for n in vars(_quarn) if not n.startswith("__")] == ["Database", "SearchResult", "tokenize"]


def stub_parameters(function):
    """The parameters of a stub function as inspect prints them without annotations."""
    args = function.args
    defaults = [None] * (len(args.args) - len(args.defaults)) + args.defaults
    out = [a.arg + ("" if d is None else "=" + ast.unparse(d)) for a, d in zip(args.args[1:], defaults[1:])]
    if args.kwonlyargs:
        out.append("*")
        out += [a.arg + ("" if d is None else "=" + ast.unparse(d)) for a, d in zip(args.kwonlyargs, args.kw_defaults)]
    return "(" + ", ".join(out) + ")"


def test_the_constructor_text_signature_matches_the_stub():
    # stubtest sees only the type's generic __new__, not the class text signature.
    stub = pathlib.Path(_quarn.__file__).parent / "_quarn-stubs" / "__init__.pyi"
    tree = ast.parse(stub.read_text())
    (database,) = [n for n in tree.body if isinstance(n, ast.ClassDef) and n.name == "Database"]
    (new,) = [n for n in database.body if isinstance(n, ast.FunctionDef) and n.name == "__new__"]
    assert str(inspect.signature(_quarn.Database)) == stub_parameters(new)
    # The package's class adds the embedding function, after the engine's parameters.
    signature = inspect.signature(quarn.Database)
    bare = signature.replace(parameters=[p.replace(annotation=p.empty) for p in signature.parameters.values()],
                             return_annotation=signature.empty)
    assert str(bare) == stub_parameters(new)[:-1] + ", embedding=None)"


def test_every_method_has_a_text_signature_for_stubtest_to_compare():
    # A method without one is skipped by stubtest rather than reported.
    for name, member in vars(_quarn.Database).items():
        if callable(member) and (not name.startswith("_") or name in ("__enter__", "__exit__")):
            assert member.__text_signature__, name
            inspect.signature(member)


def test_every_public_member_has_a_docstring():
    public = [n for n in dir(quarn.Database) if not n.startswith("_")]
    for name in public:
        assert (getattr(quarn.Database, name).__doc__ or "").strip(), name
    for name in ("id", "distance", "metadata", "vector", "document"):
        assert hasattr(quarn.SearchResult, name)
    assert quarn.SearchResult.__doc__ and quarn.Database.__doc__
    for name in ("__enter__", "__exit__", "__iter__"):
        assert getattr(quarn.Database, name).__doc__, name
