"""The framework stores over a sharded collection answer as they do over one database holding the
same records: writes, searches, filters, get_by_ids and deletes by id and by ref_doc_id."""
import pytest

ray = pytest.importorskip("ray", reason="Ray is not installed (pip install 'quarn[ray]')")
pytest.importorskip("langchain_core")
pytest.importorskip("llama_index.core")

from langchain_core.documents import Document  # noqa: E402
from langchain_core.embeddings import DeterministicFakeEmbedding  # noqa: E402
from llama_index.core.schema import NodeRelationship, RelatedNodeInfo, TextNode  # noqa: E402
from llama_index.core.vector_stores.types import MetadataFilter, MetadataFilters, VectorStoreQuery  # noqa: E402

import quarn  # noqa: E402
from quarn import langchain as lc  # noqa: E402
from quarn import llama_index as li  # noqa: E402
from quarn.distributed import ShardedDatabase  # noqa: E402

EMBED = DeterministicFakeEmbedding(size=8)
TEXTS = ["cats purr", "dogs bark", "rust compiles", "fog rolls in", "tea steeps", "owls hoot", "rain falls"]
METAS = [{"kind": "pet" if i < 2 else "other", "n": i} for i in range(len(TEXTS))]


@pytest.fixture(scope="module", autouse=True)
def cluster():
    ray.init(num_cpus=2, include_dashboard=False, log_to_driver=False)
    yield
    ray.shutdown()


@pytest.fixture
def pair(tmp_path):
    single = quarn.Database(tmp_path / "one", dim=8, metric="cosine")
    sharded = ShardedDatabase(tmp_path / "many", shards=3, dim=8, metric="cosine")
    yield single, sharded
    single.close()
    sharded.close()


def langchain_view(store):
    ids = [f"t{i}" for i in range(len(TEXTS))]
    store.add_texts(TEXTS, METAS, ids=ids)
    store.add_documents([Document(page_content="cats nap", metadata={"kind": "pet", "n": 9}, id="t0")])
    store.delete(["t3"])
    found = [(d.id, d.page_content, d.metadata, round(s, 5))
             for d, s in store.similarity_search_with_score("cats", k=4)]
    pets = [d.id for d in store.similarity_search("cats", k=5, filter={"kind": "pet"})]
    got = sorted((d.id, d.page_content) for d in store.get_by_ids(["t0", "t3", "t6"]))
    mmr = [d.id for d in store.max_marginal_relevance_search("owls", k=3, fetch_k=6)]
    return found, pets, got, mmr


def test_the_langchain_store_over_shards_answers_as_over_one_database(pair):
    single, sharded = pair
    one = langchain_view(lc.QuarnVectorStore(EMBED, database=single))
    many = langchain_view(lc.QuarnVectorStore(EMBED, database=sharded))
    assert many == one
    assert one[2] == [("t0", "cats nap"), ("t6", "rain falls")]


def llama_view(store):
    nodes = []
    for i, text in enumerate(TEXTS):
        node = TextNode(text=text, id_=f"n{i}", embedding=EMBED.embed_query(text), metadata=dict(METAS[i]))
        node.relationships[NodeRelationship.SOURCE] = RelatedNodeInfo(node_id=f"doc{i % 3}")
        nodes.append(node)
    store.add(nodes)
    store.delete("doc1")
    query = VectorStoreQuery(query_embedding=EMBED.embed_query("cats"), similarity_top_k=5,
                             filters=MetadataFilters(filters=[MetadataFilter(key="n", value=5, operator="<")]))
    result = store.query(query)
    return result.ids, [round(s, 5) for s in result.similarities], [n.get_content() for n in result.nodes]


def test_the_llama_index_store_over_shards_answers_as_over_one_database(pair):
    single, sharded = pair
    one = llama_view(li.QuarnVectorStore(database=single))
    many = llama_view(li.QuarnVectorStore(database=sharded))
    assert many == one
    assert sorted(one[0]) == ["n0", "n2", "n3"]  # n1 and n4 went with doc1; n5 and n6 fail the filter
