"""Embedding functions: text in, float32 vectors out, entirely on this machine.

``EmbeddingFunction`` is the protocol a database uses; ``register`` / ``from_config`` turn a
recorded name and configuration back into a function; ``MiniLM`` (registered as ``"minilm"``)
is the built-in all-MiniLM-L6-v2, whose weights come from an installed package.
"""

from quarn.embeddings._base import (
    EmbeddingFunction,
    as_texts,
    describe,
    embed,
    file_fingerprint,
    fingerprint,
    from_config,
    register,
    registered,
    resolve,
)
from quarn.embeddings._minilm import MiniLM

__all__ = [
    "EmbeddingFunction",
    "MiniLM",
    "as_texts",
    "describe",
    "embed",
    "file_fingerprint",
    "fingerprint",
    "from_config",
    "register",
    "registered",
    "resolve",
]
