"""quarn.langchain.QuarnVectorStore: LangChain's own standard suite, then what it does not cover."""
import inspect
import math

import numpy as np
import pytest

pytest.importorskip("langchain_core")
pytest.importorskip("langchain_tests")

from langchain_core.documents import Document  # noqa: E402
from langchain_core.embeddings import DeterministicFakeEmbedding, Embeddings  # noqa: E402
from langchain_core.vectorstores.utils import maximal_marginal_relevance  # noqa: E402
from langchain_tests.integration_tests import VectorStoreIntegrationTests  # noqa: E402

import quarn  # noqa: E402
from quarn.langchain import QuarnVectorStore  # noqa: E402


# The suite's async tests need the asyncio mark; marking the functions in place keeps them the
# suite's own (it fails a subclass that overrides any of its tests).
for _name, _test in vars(VectorStoreIntegrationTests).items():
    if _name.startswith("test_") and inspect.iscoroutinefunction(_test):
        pytest.mark.asyncio(_test)


class TestStandardSuite(VectorStoreIntegrationTests):
    @pytest.fixture
    def vectorstore(self, tmp_path):
        store = QuarnVectorStore(self.get_embeddings(), tmp_path / "store")
        try:
            yield store
        finally:
            store.close()


EMBED = DeterministicFakeEmbedding(size=8)

SHOP = [
    ("a", {"color": "red", "price": 5, "tags": "x"}),
    ("b", {"color": "blue", "price": 15, "sale": True}),
    ("c", {"color": "green", "price": 25.5}),
    ("d", {"price": 40}),
    ("e", {}),
]


@pytest.fixture
def shop(tmp_path):
    store = QuarnVectorStore(EMBED, tmp_path / "shop")
    store.add_texts([f"item {id_}" for id_, _ in SHOP], [meta for _, meta in SHOP], ids=[id_ for id_, _ in SHOP])
    yield store
    store.close()


@pytest.mark.parametrize("filter, expected", [
    ({"color": "red"}, "a"),
    ({"color": {"$eq": "blue"}}, "b"),
    ({"color": {"$ne": "red"}}, "bcde"),
    ({"color": {"$in": ("red", "green")}}, "ac"),
    ({"color": {"$nin": ["red", "green"]}}, "bde"),
    ({"price": {"$between": [5, 25.5]}}, "abc"),
    ({"price": {"$gt": 5, "$lte": 40}}, "bcd"),
    ({"sale": {"$exists": False}}, "acde"),
    ({"color": "red", "tags": "x"}, "a"),
    ({"$or": [{"color": "blue"}, {"price": {"$gte": 30}}]}, "bd"),
    ({"$and": [{"price": {"$lt": 30}}, {"$or": [{"sale": True}, {"color": "green"}]}]}, "bc"),
])
def test_langchain_filter_selects_the_records_it_describes(shop, filter, expected):
    hits = shop.similarity_search("item a", k=10, filter=filter)
    assert sorted(doc.id for doc in hits) == list(expected)


@pytest.mark.parametrize("filter, error, words", [
    ({"color": {"$like": "r%"}}, ValueError, ["$like", "'color'"]),
    ({"color": {"$ilike": "R%"}}, ValueError, ["$ilike"]),
    ({"tags": {"$contains": "x"}}, ValueError, ["$contains"]),
    ({"$not": {"color": "red"}}, ValueError, ["$not"]),
    ({"price": {"$between": [1]}}, ValueError, ["$between", "pair"]),
    ({"price": {"$gte": 1, "$between": [2, 3]}}, ValueError, ["$gte", "twice"]),
    ({"$or": {"color": "red"}}, ValueError, ["$or", "list"]),
    ([("color", "red")], TypeError, ["dict"]),
])
def test_unsupported_filters_are_refused_by_name(shop, filter, error, words):
    with pytest.raises(error) as raised:
        shop.similarity_search("item a", k=3, filter=filter)
    for word in words:
        assert word in str(raised.value)


def brute_force_mmr(query, vectors, k, lambda_mult):
    """MMR over every stored vector, as LangChain's own helper computes it."""
    return maximal_marginal_relevance(np.asarray(query), list(vectors), k=k, lambda_mult=lambda_mult)


@pytest.mark.parametrize("lambda_mult", [0.0, 0.3, 1.0])
def test_mmr_picks_what_langchain_picks_over_all_vectors(tmp_path, lambda_mult):
    texts = [f"document {i}" for i in range(40)]
    store = QuarnVectorStore.from_texts(texts, EMBED, ids=[str(i) for i in range(40)], path=tmp_path / "mmr")
    query = EMBED.embed_query("what about documents")
    chosen = store.max_marginal_relevance_search_by_vector(query, k=6, fetch_k=40, lambda_mult=lambda_mult)
    vectors = [EMBED.embed_query(text) for text in texts]
    # The store hands the helper its candidates nearest first; order the brute force alike.
    by_distance = np.argsort([1 - np.dot(v, query) / np.linalg.norm(v) / np.linalg.norm(query) for v in vectors])
    expected = [str(by_distance[i]) for i in brute_force_mmr(query, [vectors[j] for j in by_distance], 6, lambda_mult)]
    assert [doc.id for doc in chosen] == expected
    assert all(doc.page_content == texts[int(doc.id)] for doc in chosen)
    store.close()


def test_mmr_keeps_to_the_filter(shop):
    docs = shop.max_marginal_relevance_search("item b", k=3, fetch_k=10, filter={"price": {"$gte": 15}})
    assert sorted(doc.id for doc in docs) == ["b", "c", "d"]


def expected_relevance(metric, query, vector):
    """LangChain's [0, 1] relevance of a stored vector to the query, from first principles."""
    q, v = np.asarray(query, dtype=np.float64), np.asarray(vector, dtype=np.float64)
    if metric == "cosine":
        return float(np.dot(q, v) / np.linalg.norm(q) / np.linalg.norm(v))
    if metric == "l2":
        return 1 - float(np.linalg.norm(q - v)) / math.sqrt(2)
    ip = float(np.dot(q, v))
    return ip if ip >= 0 else 1 + ip


@pytest.mark.filterwarnings("ignore:Relevance scores must be between 0 and 1")  # far vectors score below 0
@pytest.mark.parametrize("metric", ["cosine", "l2", "dot"])
def test_relevance_scores_follow_the_metric(tmp_path, metric):
    rng = np.random.default_rng(7)
    vectors = rng.normal(size=(12, 5))
    vectors /= np.linalg.norm(vectors, axis=1, keepdims=True)
    table = {f"t{i}": vectors[i].tolist() for i in range(12)}

    class TableEmbedding(Embeddings):
        def embed_documents(self, texts):
            return [table[text] for text in texts]

        def embed_query(self, text):
            return table[text]

    store = QuarnVectorStore.from_texts(list(table), TableEmbedding(), path=tmp_path / metric, metric=metric)
    scored = store.similarity_search_with_relevance_scores("t3", k=12)
    assert scored[0][0].page_content == "t3" and scored[0][1] == pytest.approx(1.0, abs=1e-5)
    for doc, score in scored:
        assert score == pytest.approx(expected_relevance(metric, table["t3"], table[doc.page_content]), abs=1e-5)
    distances = [distance for _, distance in store.similarity_search_with_score("t3", k=12)]
    assert distances == sorted(distances)
    store.close()


def test_a_new_path_is_created_at_the_first_write_and_reopens(tmp_path):
    path = tmp_path / "deep" / "store"
    store = QuarnVectorStore(EMBED, path, metric="l2")
    assert store.database is None and not path.exists()
    assert store.similarity_search("anything") == [] and store.get_by_ids(["x"]) == []
    assert store.delete(["x"]) is True and store.max_marginal_relevance_search("anything") == []
    ids = store.add_texts(["first", "second"], [{"n": 1}, None])
    assert (store.database.dim, store.database.metric) == (8, "euclidean")
    store.close()

    reopened = QuarnVectorStore(EMBED, path)
    assert reopened.get_by_ids(ids) == [Document(id=ids[0], page_content="first", metadata={"n": 1}),
                                        Document(id=ids[1], page_content="second", metadata={})]
    assert reopened.similarity_search("second", k=1)[0].id == ids[1]
    reopened.close()


def test_dim_given_creates_the_database_at_once_with_the_metric(tmp_path):
    store = QuarnVectorStore(EMBED, tmp_path / "eager", metric="dot", dim=8, m=8)
    assert (store.database.dim, store.database.metric, store.database.m) == (8, "dot_product", 8)
    store.close()


def test_a_database_passed_in_is_used_and_left_open(tmp_path):
    db = quarn.Database(tmp_path / "db", dim=8)
    store = QuarnVectorStore(EMBED, database=db)
    store.add_texts(["one"], ids=["1"])
    store.close()
    assert not db.closed and db.get_many(["1"], include_documents=True)[2] == ["one"]
    with pytest.raises(ValueError, match="exactly one of path and database"):
        QuarnVectorStore(EMBED, tmp_path / "db", database=db)
    db.close()


def test_mismatched_batch_lengths_write_nothing(shop):
    with pytest.raises(ValueError, match="metadatas length"):
        shop.add_texts(["p", "q"], [{"n": 1}])
    with pytest.raises(ValueError, match="ids length"):
        shop.add_texts(["p", "q"], ids=["p"])
    assert len(shop.database) == len(SHOP)


def test_delete_without_ids_empties_the_store(shop):
    assert shop.delete() is True
    assert len(shop.database) == 0 and shop.similarity_search("item a") == []


class AsyncOnlyEmbedding(Embeddings):
    """Refuses to embed synchronously, as a client on a running event loop should not."""

    def embed_documents(self, texts):
        raise AssertionError("a synchronous embedding call from an async method")

    def embed_query(self, text):
        raise AssertionError("a synchronous embedding call from an async method")

    async def aembed_documents(self, texts):
        return EMBED.embed_documents(texts)

    async def aembed_query(self, text):
        return EMBED.embed_query(text)


@pytest.mark.asyncio
async def test_async_methods_embed_with_the_async_embedding_calls(tmp_path):
    store = await QuarnVectorStore.afrom_texts(["alpha", "beta", "gamma"], AsyncOnlyEmbedding(),
                                               [{"g": 1}, {"g": 2}, {"g": 2}], path=tmp_path / "async")
    await store.aadd_documents([Document(page_content="delta", metadata={"g": 2}, id="d")])
    assert [doc.page_content for doc in await store.asimilarity_search("beta", k=1)] == ["beta"]
    scored = await store.asimilarity_search_with_score("gamma", k=2, filter={"g": 2})
    assert scored[0][0].page_content == "gamma" and scored[0][1] == pytest.approx(0.0, abs=1e-6)
    mmr = await store.amax_marginal_relevance_search("delta", k=2, fetch_k=4, filter={"g": 2})
    assert mmr[0].id == "d" and len(mmr) == 2
    await store.adelete(["d"])
    assert await store.aget_by_ids(["d"]) == []
    store.close()
