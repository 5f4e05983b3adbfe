"""quarn as a LlamaIndex vector store: ``QuarnVectorStore``. Needs ``llama-index-core``
(``pip install 'quarn[llama-index]'``); ``import quarn`` does not import this module."""

try:
    import llama_index.core  # noqa: F401
except ModuleNotFoundError as error:
    raise ModuleNotFoundError("quarn.llama_index needs llama-index-core: pip install 'quarn[llama-index]'",
                              name=error.name) from error

from quarn.llama_index._filters import to_where
from quarn.llama_index._store import QuarnVectorStore

__all__ = ["QuarnVectorStore", "to_where"]
