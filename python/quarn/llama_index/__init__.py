"""quarn as a LlamaIndex vector store: ``QuarnVectorStore``. Needs ``llama-index-core``
(``pip install 'quarn[llama-index]'``); ``import quarn`` does not import this module."""

try:
    import llama_index.core  # noqa: F401
except ModuleNotFoundError:  # the original error stays attached as the context
    raise ModuleNotFoundError("quarn.llama_index needs llama-index-core: pip install 'quarn[llama-index]'",
                              name="llama_index")

from quarn.llama_index._filters import to_where
from quarn.llama_index._store import QuarnVectorStore

__all__ = ["QuarnVectorStore", "to_where"]
