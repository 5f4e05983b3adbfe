"""The keyword engines measured by bench/keyword_speed.py, behind one small interface.

``build(texts, tokens)`` indexes the passages (row i has id i); ``search(query, query_tokens)``
runs one query the way a user of the library would and returns the library's raw result, and
``hits(raw)`` turns that into [(row, score)] best first (not timed). Engines that answer a batch
of queries in one call also have ``search_batch``. Every engine runs on one thread.
"""

from __future__ import annotations

import importlib.metadata
import os
import tempfile

import numpy as np

K = 10
K1, B = 1.2, 0.75


def version(dist: str) -> str:
    try:
        return importlib.metadata.version(dist)
    except importlib.metadata.PackageNotFoundError:
        return "?"


class QuarnKeyword:
    """quarn: add_many with the passages as documents (vectors of ``dim`` dimensions), then
    search_keyword. ``vectors`` is a function n -> float32 array (n, dim)."""

    name = "quarn"
    tokenizes_itself = True

    def __init__(self, workdir: str, dim: int = 384, vectors=None, with_documents: bool = True):
        self.workdir, self.dim, self.with_documents = workdir, dim, with_documents
        self.vectors = vectors or (lambda n: np.zeros((n, dim), dtype=np.float32))
        self.db = None

    def prepare(self, n: int) -> None:
        """Untimed work before build: the vectors."""
        self._vectors = self.vectors(n)

    def build(self, texts, tokens) -> None:
        import quarn

        self.close()
        path = tempfile.mkdtemp(dir=self.workdir, prefix="quarn-")
        self.db = quarn.Database(os.path.join(path, "db"), dim=self.dim, metric="cosine")
        ids = [str(i) for i in range(len(texts))]
        self.db.add_many(ids, self._vectors, documents=list(texts) if self.with_documents else None)

    def search(self, query, query_tokens):
        return self.db.search_keyword(query, k=K)

    def hits(self, raw):
        return [(int(r.id), -r.distance) for r in raw]

    def close(self) -> None:
        if self.db is not None:
            self.db.close()
            self.db = None


class Bm25sKeyword:
    """bm25s with Lucene's BM25 (k1 1.2, b 0.75), fed quarn's terms (tokenizing is not timed)."""

    name = "bm25s"
    tokenizes_itself = False

    def __init__(self, backend: str = "auto"):
        self.backend = backend
        self.retriever = None

    def build(self, texts, tokens) -> None:
        import bm25s

        self.retriever = bm25s.BM25(method="lucene", k1=K1, b=B, backend=self.backend)
        self.retriever.index(tokens, show_progress=False)

    def _known(self, query_tokens):
        # bm25s refuses a query without a term of its vocabulary; such a query finds nothing.
        vocab = self.retriever.vocab_dict
        return [t for t in query_tokens if t in vocab]

    def search(self, query, query_tokens):
        known = self._known(query_tokens)
        if not known:
            return None
        return self.retriever.retrieve([known], k=K, n_threads=1, show_progress=False, backend_selection=self.backend)

    def search_batch(self, queries, query_tokens):
        known = [self._known(t) for t in query_tokens]
        keep = [i for i, t in enumerate(known) if t]
        out = [None] * len(queries)
        if not keep:
            return out
        docs, scores = self.retriever.retrieve([known[i] for i in keep], k=K, n_threads=1,
                                               show_progress=False, backend_selection=self.backend)
        for row, i in enumerate(keep):
            out[i] = (docs[row:row + 1], scores[row:row + 1])
        return out

    def hits(self, raw):
        if raw is None:
            return []
        docs, scores = raw
        # bm25s fills k places even when fewer passages hold a query term (with score 0). Its
        # Lucene scores leave out the factor k1 + 1 that quarn's keep: put them on one scale.
        return [(int(d), float(s) * (1.0 + K1)) for d, s in zip(docs[0], scores[0]) if s > 0]

    def close(self) -> None:
        self.retriever = None


class TantivyKeyword:
    """tantivy with its "default" tokenizer (split on what is not a letter or digit, lower case,
    no stemming or stop words: the nearest to quarn's default), one indexing thread, the query
    parsed by its QueryParser (terms OR-ed), BM25 as tantivy scores it."""

    name = "tantivy"
    tokenizes_itself = True

    def __init__(self, workdir: str):
        self.workdir = workdir
        self.index = None

    def build(self, texts, tokens) -> None:
        import tantivy

        builder = tantivy.SchemaBuilder()
        builder.add_unsigned_field("row", stored=True, fast=True)
        builder.add_text_field("body", stored=True, tokenizer_name="default")
        schema = builder.build()
        path = tempfile.mkdtemp(dir=self.workdir, prefix="tantivy-")
        self.index = tantivy.Index(schema, path=path)
        writer = self.index.writer(heap_size=256 * 2 ** 20, num_threads=1)
        for i, text in enumerate(texts):
            doc = tantivy.Document()
            doc.add_unsigned("row", i)
            doc.add_text("body", text)
            writer.add_document(doc)
        writer.commit()
        writer.wait_merging_threads()
        self.index.reload()
        self.searcher = self.index.searcher()

    def search(self, query, query_tokens):
        parsed = self.index.parse_query(query, ["body"])
        return self.searcher.search(parsed, K).hits

    def hits(self, raw):
        return [(int(self.searcher.doc(addr)["row"][0]), float(score)) for score, addr in raw]

    def close(self) -> None:
        self.index = None
