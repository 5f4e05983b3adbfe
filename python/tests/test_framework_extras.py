"""The framework stores are optional: quarn imports without LangChain or LlamaIndex, and the
stores' modules say what is missing."""
import subprocess
import sys
import textwrap

import pytest

BLOCKED = textwrap.dedent("""
    import importlib.abc, sys

    class Block(importlib.abc.MetaPathFinder):
        def find_spec(self, name, path=None, target=None):
            if name.split(".")[0] in ("langchain_core", "langchain_tests", "llama_index"):
                raise ModuleNotFoundError(f"No module named {name!r}", name=name)
            return None

    sys.meta_path.insert(0, Block())
""")


@pytest.mark.parametrize("code, output", [
    ("import quarn, quarn.embeddings\n"
     "print(sorted(m for m in sys.modules if m.startswith(('langchain', 'llama_index', 'quarn.l'))))", "[]"),
    ("try:\n    import quarn.langchain\nexcept ModuleNotFoundError as e:\n    print(e.name, e)",
     "langchain_core quarn.langchain needs langchain-core: pip install 'quarn[langchain]'"),
    ("try:\n    import quarn.llama_index\nexcept ModuleNotFoundError as e:\n    print(e.name, e)",
     "llama_index quarn.llama_index needs llama-index-core: pip install 'quarn[llama-index]'"),
], ids=["quarn", "quarn.langchain", "quarn.llama_index"])
def test_quarn_imports_without_the_frameworks(code, output):
    result = subprocess.run([sys.executable, "-c", BLOCKED + code], capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip().splitlines()[-1].startswith(output)
