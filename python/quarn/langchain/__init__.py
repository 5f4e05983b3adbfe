"""quarn as a LangChain vector store: ``QuarnVectorStore``. Needs ``langchain-core``
(``pip install 'quarn[langchain]'``); ``import quarn`` does not import this module."""

try:
    import langchain_core  # noqa: F401
except ModuleNotFoundError:  # the original error stays attached as the context
    raise ModuleNotFoundError("quarn.langchain needs langchain-core: pip install 'quarn[langchain]'",
                              name="langchain_core")

from quarn.langchain._filters import to_where
from quarn.langchain._store import QuarnVectorStore

__all__ = ["QuarnVectorStore", "to_where"]
