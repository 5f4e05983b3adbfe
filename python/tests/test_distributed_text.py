"""Text on a sharded collection: embedded on the driver, recorded for the collection, and searched
and deleted by filter exactly as one database holding the same records."""
import os
import zlib

import numpy as np
import pytest

ray = pytest.importorskip("ray", reason="Ray is not installed (pip install 'quarn[ray]')")

import quarn  # noqa: E402
from quarn.distributed import ShardedDatabase  # noqa: E402
from quarn import embeddings  # noqa: E402
from test_text import IDS, META, TEXTS, Letters, hits  # noqa: E402

QUERIES = ["red cat", "fog over the mat", "vectors"]


class Spread(Letters):
    """Letters plus a little noise seeded by each text, so that no two texts tie in distance: the
    shards' merge orders ties otherwise than one database does."""

    name = "test-spread"

    def vectors(self, texts):
        noise = [np.random.default_rng(zlib.crc32(t.encode())).random(self.dim) for t in texts]
        return super().vectors(texts) + np.asarray(noise, np.float32).reshape(len(texts), self.dim) * 0.1


embeddings.register(Spread.name)(Spread)


@pytest.fixture(scope="module", autouse=True)
def cluster():
    ray.init(num_cpus=2, include_dashboard=False, log_to_driver=False)
    yield
    ray.shutdown()


def test_text_calls_equal_one_database_and_embed_once_per_batch(tmp_path):
    root, path = str(tmp_path / "sharded"), str(tmp_path / "one")
    one = quarn.Database(path, embedding=Spread())
    sharded = ShardedDatabase(root, shards=3, embedding=Spread())
    try:
        assert (sharded.dim, sharded.metric) == (12, "dot_product")
        for db in (one, sharded):
            db.add_texts(IDS, TEXTS, META)
            db.upsert_texts(["t1", "extra"], ["a red dog", "fog and mats"], [{"n": 1}, None])
        assert sharded.embedding.calls == [("documents", len(IDS)), ("documents", 2)]
        flt = {"n": {"$lt": 6}}
        for q in QUERIES:
            assert hits(sharded.search_text(q, 4, where_filter=flt)) == hits(one.search_text(q, 4, where_filter=flt))
            assert hits(sharded.search_hybrid(q, k=4)) == hits(one.search_hybrid(q, k=4))
        assert [hits(r) for r in sharded.search_text_many(QUERIES, 3)] == \
            [hits(r) for r in one.search_text_many(QUERIES, 3)]
        where = {"$or": [{"n": {"$gte": 5}}, {"n": 1}]}
        assert sharded.delete_where(where) == one.delete_where(where) == 4
        assert sorted(sharded.ids()) == sorted(one.ids())
    finally:
        sharded.close()
        one.close()
    assert os.path.isfile(os.path.join(root, "embedding.json"))
    with pytest.raises(ValueError, match="'salt': 0.*'salt': 5"):
        ShardedDatabase(root, embedding=Spread(salt=5))
    reopened = ShardedDatabase(root)
    try:
        assert reopened.embedding.config() == Spread().config()
        assert [h.id for h in reopened.search_text("fog", 2)] == [h.id for h in one_reopened(path).search_text("fog", 2)]
    finally:
        reopened.close()


def one_reopened(path):
    return quarn.Database(path, read_only=True)


def test_delete_where_failing_on_one_shard_deletes_nothing(tmp_path):
    sharded = ShardedDatabase(str(tmp_path / "c"), shards=3, embedding=Letters())
    try:
        sharded.add_texts(IDS, TEXTS, META)
        sharded._inject_fault(2, "delete_where", ValueError("disk full"))
        with pytest.raises(ValueError, match="delete_where: shard 2 refused its part: disk full; nothing was written"):
            sharded.delete_where({"n": {"$gte": 0}})
        _, metadatas, documents = sharded.get_many(IDS, include_documents=True)
        assert (metadatas, documents) == (META, TEXTS)
        with pytest.raises(ValueError, match="at least one condition"):
            sharded.delete_where({})
    finally:
        sharded.close()
