"""quarn.llama_index.QuarnVectorStore: an index round trip, filters against LlamaIndex's own
evaluator, the query modes and node round trips."""
import numpy as np
import pytest

pytest.importorskip("llama_index.core")

from llama_index.core import Document, StorageContext, VectorStoreIndex  # noqa: E402
from llama_index.core.embeddings import MockEmbedding  # noqa: E402
from llama_index.core.schema import NodeRelationship, RelatedNodeInfo, TextNode  # noqa: E402
from llama_index.core.vector_stores.types import (  # noqa: E402
    FilterCondition as C,
    FilterOperator as Op,
    MetadataFilter as F,
    MetadataFilters as Fs,
    VectorStoreQuery,
    VectorStoreQueryMode,
)
from llama_index.core.vector_stores.utils import build_metadata_filter_fn  # noqa: E402

from quarn.llama_index import QuarnVectorStore, to_where  # noqa: E402

EMBED = MockEmbedding(embed_dim=8)


def test_index_round_trip_insert_filter_delete_reopen(tmp_path):
    path = tmp_path / "index"
    store = QuarnVectorStore(path)
    index = VectorStoreIndex.from_documents(
        [Document(text="Cats purr when content.", id_="cats", metadata={"topic": "pets", "year": 2021}),
         Document(text="Rust has no garbage collector.", id_="rust", metadata={"topic": "code", "year": 2015})],
        storage_context=StorageContext.from_defaults(vector_store=store), embed_model=EMBED)
    index.insert(Document(text="Dogs wag their tails.", id_="dogs", metadata={"topic": "pets", "year": 2023}))

    recent_pets = Fs(filters=[F(key="topic", value="pets"), F(key="year", value=2022, operator=Op.GT)])
    hits = index.as_retriever(similarity_top_k=5, filters=recent_pets).retrieve("tails")
    assert [(hit.node.ref_doc_id, hit.node.get_content()) for hit in hits] == [("dogs", "Dogs wag their tails.")]
    assert hits[0].node.metadata == {"topic": "pets", "year": 2023}

    index.delete_ref_doc("cats")
    store.close()

    reopened = QuarnVectorStore(path)
    index = VectorStoreIndex.from_vector_store(reopened, embed_model=EMBED)
    hits = index.as_retriever(similarity_top_k=5).retrieve("anything")
    assert sorted((hit.node.ref_doc_id, hit.node.get_content()) for hit in hits) == [
        ("dogs", "Dogs wag their tails."), ("rust", "Rust has no garbage collector.")]
    assert all(hit.score == pytest.approx(1.0, abs=1e-5) for hit in hits)  # every mock vector is alike
    reopened.close()


RECORDS = {
    "a": {"color": "red", "price": 5, "n": 1},
    "b": {"color": "blue", "price": 15},
    "c": {"color": "green", "price": 25.5, "n": 2},
    "d": {"price": 40, "n": 3},
    "e": {"color": "red"},
}


@pytest.fixture(scope="module")
def shop(tmp_path_factory):
    store = QuarnVectorStore(tmp_path_factory.mktemp("shop") / "db")
    store.add([TextNode(id_=id_, text=f"item {id_}", metadata=meta, embedding=[1.0, float(i)])
               for i, (id_, meta) in enumerate(RECORDS.items())])
    yield store
    store.close()


def peer_matches(filters):
    """The ids LlamaIndex's own in-memory evaluator keeps; nested groups combined as their condition says."""
    if all(isinstance(part, F) for part in filters.filters):
        keep = build_metadata_filter_fn(RECORDS.__getitem__, filters)
        return {id_ for id_ in RECORDS if keep(id_)}
    sets = [peer_matches(part if isinstance(part, Fs) else Fs(filters=[part])) for part in filters.filters]
    if filters.condition == C.OR:
        return set().union(*sets)
    if filters.condition == C.NOT:
        return set(RECORDS) - set().union(*sets)
    return set(RECORDS).intersection(*sets)


FILTERS = [
    Fs(filters=[F(key="color", value="red")]),
    Fs(filters=[F(key="color", value="red", operator=Op.NE)]),
    Fs(filters=[F(key="price", value=15, operator=Op.GT)]),
    Fs(filters=[F(key="price", value=15, operator=Op.GTE)]),
    Fs(filters=[F(key="price", value=25.5, operator=Op.LT)]),
    Fs(filters=[F(key="price", value=25.5, operator=Op.LTE)]),
    Fs(filters=[F(key="color", value=["red", "green"], operator=Op.IN)]),
    Fs(filters=[F(key="color", value=["red", "green"], operator=Op.NIN)]),
    Fs(filters=[F(key="color", value="red"), F(key="n", value=1)], condition=C.AND),
    Fs(filters=[F(key="color", value="blue"), F(key="n", value=[2, 3], operator=Op.IN)], condition=C.OR),
    Fs(filters=[F(key="color", value="red"), F(key="n", value=3)], condition=C.NOT),
    Fs(filters=[F(key="color", value=["red"], operator=Op.NIN), F(key="n", value=2, operator=Op.NE)],
       condition=C.NOT),
    Fs(filters=[F(key="price", value=10, operator=Op.GT),
                Fs(filters=[F(key="color", value="green"), F(key="n", value=3)], condition=C.OR)]),
    Fs(filters=[F(key="price", value=30, operator=Op.LT),
                Fs(filters=[F(key="color", value="blue"),
                            Fs(filters=[F(key="n", value=1)], condition=C.NOT)], condition=C.OR)]),
    Fs(filters=[Fs(filters=[F(key="color", value="red"), F(key="n", value=[1, 2], operator=Op.IN)],
                   condition=C.OR)], condition=C.NOT),
]


@pytest.mark.parametrize("filters", FILTERS, ids=range(len(FILTERS)))
def test_filters_keep_what_llama_index_keeps(shop, filters):
    expected = peer_matches(filters)
    assert set(shop.client.ids(where=to_where(filters))) == expected
    result = shop.query(VectorStoreQuery(query_embedding=[1.0, 0.0], similarity_top_k=10, filters=filters))
    assert sorted(result.ids) == sorted(expected)


@pytest.mark.parametrize("filters, words", [
    (Fs(filters=[F(key="tags", value="x", operator=Op.CONTAINS)]), ["CONTAINS", "'tags'"]),
    (Fs(filters=[F(key="tags", value=["x"], operator=Op.ANY)]), ["ANY"]),
    (Fs(filters=[F(key="tags", value=["x"], operator=Op.ALL)]), ["ALL"]),
    (Fs(filters=[F(key="color", value="re", operator=Op.TEXT_MATCH)]), ["TEXT_MATCH"]),
    (Fs(filters=[F(key="color", value=None, operator=Op.IS_EMPTY)]), ["IS_EMPTY"]),
    (Fs(filters=[F(key="price", value=3, operator=Op.GT)], condition=C.NOT), ["GT", "negated"]),
])
def test_unsupported_filters_are_refused_by_name(shop, filters, words):
    with pytest.raises(ValueError) as raised:
        shop.query(VectorStoreQuery(query_embedding=[1.0, 0.0], similarity_top_k=3, filters=filters))
    for word in words:
        assert word in str(raised.value)


def test_text_and_hybrid_modes_search_the_node_texts(tmp_path):
    store = QuarnVectorStore(tmp_path / "modes")
    texts = {"1": "the quick brown fox", "2": "lazy dogs sleep", "3": "brown bears fish"}
    store.add([TextNode(id_=id_, text=text, embedding=[1.0, float(id_)]) for id_, text in texts.items()])
    keyword = store.query(VectorStoreQuery(query_str="brown fox", similarity_top_k=2,
                                           mode=VectorStoreQueryMode.TEXT_SEARCH))
    assert keyword.ids == ["1", "3"] and keyword.similarities[0] > keyword.similarities[1] > 0
    assert keyword.nodes[0].get_content() == "the quick brown fox"
    for alpha in (None, 0.0):  # rank fusion, then the keyword ranking alone
        hybrid = store.query(VectorStoreQuery(query_embedding=[1.0, 2.0], query_str="lazy", similarity_top_k=3,
                                              mode=VectorStoreQueryMode.HYBRID, alpha=alpha))
        assert hybrid.ids[0] == "2"
    only_3 = store.query(VectorStoreQuery(query_str="brown", similarity_top_k=3, doc_ids=["none"],
                                          mode=VectorStoreQueryMode.TEXT_SEARCH))
    assert only_3.ids == []
    for query, words in [(VectorStoreQuery(query_embedding=[1.0, 0.0], mode=VectorStoreQueryMode.MMR), "'mmr'"),
                         (VectorStoreQuery(query_str="fox", node_ids=["1"], mode=VectorStoreQueryMode.TEXT_SEARCH),
                          "cannot be restricted to node_ids"),
                         (VectorStoreQuery(mode=VectorStoreQueryMode.TEXT_SEARCH), "needs query_str"),
                         (VectorStoreQuery(query_str="fox"), "needs query_embedding")]:
        with pytest.raises(ValueError, match=words):
            store.query(query)
    store.close()


def test_nodes_round_trip_with_relationships_and_metadata(tmp_path):
    store = QuarnVectorStore(tmp_path / "nodes", metric="l2")
    source = RelatedNodeInfo(node_id="doc-1", metadata={"title": "Ünïcode"})
    nodes = [TextNode(id_=f"n{i}", text=f"chunk {i} — ✓", embedding=[float(i), 1.0, 0.0],
                      metadata={"page": i, "nested": {"a": [1, 2]}}, excluded_embed_metadata_keys=["page"],
                      relationships={NodeRelationship.SOURCE: source}) for i in range(3)]
    assert store.add(nodes) == ["n0", "n1", "n2"]
    got = store.get_nodes(["n2", "missing", "n0"])
    expected = [nodes[2].model_copy(update={"embedding": None}), nodes[0].model_copy(update={"embedding": None})]
    assert [node.model_dump() for node in got] == [node.model_dump() for node in expected]
    assert got[0].ref_doc_id == "doc-1"

    nearest = store.query(VectorStoreQuery(query_embedding=[1.0, 1.0, 0.0], similarity_top_k=2))
    assert nearest.ids == ["n1", "n0"] and nearest.similarities == pytest.approx([1.0, 0.5])

    assert [n.node_id for n in store.get_nodes(filters=Fs(filters=[F(key="page", value=1, operator=Op.GTE)]))] == [
        "n1", "n2"]
    store.delete_nodes(["n0", "n1"], filters=Fs(filters=[F(key="page", value=1)]))
    assert store.client.ids() == ["n0", "n2"]
    store.delete("doc-1")
    assert store.client.ids() == []
    store.add(nodes[:1])
    store.clear()
    assert len(store.client) == 0
    store.close()


def test_an_empty_path_answers_before_the_first_write(tmp_path):
    store = QuarnVectorStore(tmp_path / "empty")
    assert store.client is None and store.get_nodes() == [] and to_where(Fs(filters=[])) is None
    assert store.query(VectorStoreQuery(query_embedding=[1.0], similarity_top_k=3)).ids == []
    store.delete("doc")
    assert not (tmp_path / "empty").exists()


@pytest.mark.parametrize("metric", ["cosine", "l2", "dot"])
def test_node_ids_restrict_the_search_to_those_nodes(tmp_path, metric):
    rng = np.random.default_rng(3)
    vectors = rng.normal(size=(30, 6))
    store = QuarnVectorStore(tmp_path / metric, metric=metric)
    store.add([TextNode(id_=f"n{i}", text=f"t{i}", metadata={"odd": i % 2}, embedding=vectors[i].tolist())
               for i in range(30)])
    query = rng.normal(size=6)
    if metric == "cosine":
        distance = 1 - vectors @ query / np.linalg.norm(vectors, axis=1) / np.linalg.norm(query)
    elif metric == "l2":
        distance = np.sum((vectors - query) ** 2, axis=1)
    else:
        distance = -(vectors @ query)
    allowed = [i for i in range(0, 30, 3) if i % 2 == 1]
    expected = [f"n{i}" for i in sorted(allowed, key=lambda i: distance[i])][:4]
    result = store.query(VectorStoreQuery(
        query_embedding=query.tolist(), similarity_top_k=4, node_ids=[f"n{i}" for i in range(0, 30, 3)] + ["gone"],
        filters=Fs(filters=[F(key="odd", value=1)])))
    assert result.ids == expected and [node.get_content() for node in result.nodes] == [f"t{i[1:]}" for i in expected]
    # The engine's search and the exact search over named nodes order and score alike.
    engine = store.query(VectorStoreQuery(query_embedding=query.tolist(), similarity_top_k=30, node_ids=[]))
    exact = store.query(VectorStoreQuery(query_embedding=query.tolist(), similarity_top_k=30,
                                         node_ids=[f"n{i}" for i in range(30)]))
    assert engine.ids == exact.ids == [f"n{i}" for i in np.argsort(distance, kind="stable")]
    assert np.allclose(engine.similarities, exact.similarities, atol=1e-5)
    store.close()


@pytest.mark.asyncio
async def test_async_forms_write_query_and_delete(tmp_path):
    store = QuarnVectorStore(tmp_path / "async")
    nodes = [TextNode(id_=f"n{i}", text=f"t{i}", embedding=[1.0, float(i)],
                      relationships={NodeRelationship.SOURCE: RelatedNodeInfo(node_id=f"doc{i % 2}")})
             for i in range(4)]
    assert await store.async_add(nodes) == ["n0", "n1", "n2", "n3"]
    result = await store.aquery(VectorStoreQuery(query_embedding=[1.0, 3.0], similarity_top_k=2, doc_ids=["doc0"]))
    assert result.ids == ["n2", "n0"]
    await store.adelete("doc0")
    assert store.client.ids() == ["n1", "n3"]
    store.close()
