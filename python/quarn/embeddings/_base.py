from __future__ import annotations

import hashlib
import os
import threading
from typing import Any, Callable, Dict, Protocol, Sequence, runtime_checkable

import numpy as np


@runtime_checkable
class EmbeddingFunction(Protocol):
    """Turns texts into vectors; what a database records to embed queries the same way later.

    ``name`` and ``config()`` identify the function: ``from_config(config())`` on the class
    registered under ``name`` must rebuild one that gives the same vectors. ``config()`` holds
    JSON values only.
    """

    name: str
    dim: int

    def embed_documents(self, texts: Sequence[str]) -> np.ndarray:
        """float32 array of shape (len(texts), dim)."""
        ...

    def embed_query(self, texts: Sequence[str]) -> np.ndarray:
        """float32 array of shape (len(texts), dim); may differ from documents (instruction prefixes)."""
        ...

    def config(self) -> Dict[str, Any]: ...

    @classmethod
    def from_config(cls, config: Dict[str, Any]) -> "EmbeddingFunction": ...


_registry: Dict[str, Callable[[Dict[str, Any]], EmbeddingFunction]] = {}


def register(name: str, factory: Callable[[Dict[str, Any]], EmbeddingFunction] | None = None):
    """Registers ``factory(config) -> function`` under ``name``; as a decorator, a class's ``from_config``.

    Registering a name again replaces the earlier entry.
    """
    if not isinstance(name, str) or not name:
        raise ValueError("an embedding function name must be a non-empty string")

    def add(obj):
        _registry[name] = obj.from_config if isinstance(obj, type) else obj
        return obj

    return add if factory is None else add(factory)


def registered() -> list[str]:
    return sorted(_registry)


def from_config(name: str, config: Dict[str, Any] | None = None) -> EmbeddingFunction:
    """The function registered under ``name``, built from a recorded ``config``."""
    try:
        factory = _registry[name]
    except KeyError:
        raise KeyError(f"no embedding function is registered as {name!r} (registered: "
                       f"{', '.join(registered()) or 'none'}); register it with "
                       "quarn.embeddings.register before opening") from None
    fn = factory(dict(config or {}))
    if fn.name != name:
        raise ValueError(f"the function registered as {name!r} calls itself {fn.name!r}")
    return fn


def resolve(function: "str | EmbeddingFunction") -> EmbeddingFunction:
    """A function from a registered name (default configuration) or a function object."""
    if isinstance(function, str):
        return from_config(function)
    if isinstance(function, EmbeddingFunction):
        return function
    raise TypeError(f"expected an embedding function or a registered name, got {type(function).__name__}")


def fingerprint(fn: EmbeddingFunction) -> str | None:
    """The function's own digest of its weights (``fn.fingerprint()``), or None if it has none."""
    method = getattr(fn, "fingerprint", None)
    return None if method is None else str(method())


def describe(fn: EmbeddingFunction) -> Dict[str, Any]:
    """{name, dim, config, fingerprint}: what a database records about its function."""
    return {"name": fn.name, "dim": int(fn.dim), "config": fn.config(), "fingerprint": fingerprint(fn)}


_file_digests: Dict[tuple, str] = {}
_file_digests_lock = threading.Lock()


def file_fingerprint(paths: Sequence[str]) -> str:
    """``sha256:<hex>`` over the base names and contents of ``paths``, in order.

    Cached per (path, size, modification time), so a function asked again costs nothing.
    """
    h = hashlib.sha256()
    for path in paths:
        st = os.stat(path)
        key = (os.path.abspath(path), st.st_size, st.st_mtime_ns)
        with _file_digests_lock:
            digest = _file_digests.get(key)
        if digest is None:
            fh = hashlib.sha256()
            with open(path, "rb") as f:
                for block in iter(lambda: f.read(1 << 20), b""):
                    fh.update(block)
            digest = fh.hexdigest()
            with _file_digests_lock:
                _file_digests[key] = digest
        h.update(f"{os.path.basename(path)}\0{st.st_size}\0{digest}\n".encode())
    return "sha256:" + h.hexdigest()


def as_texts(texts: Sequence[str]) -> list[str]:
    """``texts`` as a list of str; a lone str is refused (it would embed each character)."""
    if isinstance(texts, (str, bytes)):
        raise TypeError("texts must be a sequence of strings, not a single string: wrap it in a list")
    out = list(texts)
    for i, t in enumerate(out):
        if not isinstance(t, str):
            raise TypeError(f"texts[{i}] is {type(t).__name__}, not str")
    return out


def embed(fn: EmbeddingFunction, texts: Sequence[str], query: bool = False) -> np.ndarray:
    """Calls ``fn`` and checks what it returns: C-contiguous float32 of shape (len(texts), fn.dim)."""
    texts = as_texts(texts)
    out = (fn.embed_query if query else fn.embed_documents)(texts)
    out = np.ascontiguousarray(out, dtype=np.float32)
    if out.shape != (len(texts), fn.dim):
        raise ValueError(f"embedding function {fn.name!r} returned shape {out.shape} for "
                         f"{len(texts)} texts; expected ({len(texts)}, {fn.dim})")
    if not np.isfinite(out).all():
        raise ValueError(f"embedding function {fn.name!r} returned non-finite values")
    return out
