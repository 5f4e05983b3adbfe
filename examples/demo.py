"""A tour of quarn: bulk loading, filtered and batch search, recall, deletes, compaction,
snapshots, recovery from the write-ahead log and quantized search.

Run it with `bash scripts/demo.sh`, or `python3 examples/demo.py` once the package is installed.
"""
import os
import tempfile
import time

import numpy as np

import quarn

N, DIM, BATCH, K = 40_000, 288, 10_000, 10
CATEGORIES = ["books", "music", "films", "games", "tools", "garden", "toys", "food"]


class Clock:
    def __init__(self, label):
        self.label = label

    def __enter__(self):
        self.start = time.perf_counter()
        return self

    def __exit__(self, *exc):
        self.seconds = time.perf_counter() - self.start
        print(f"  {self.label}: {self.seconds:.2f} s")
        return False


def make_data(rng):
    """Overlapping clusters of low intrinsic dimension, as text or image models produce."""
    latent, clusters = 12, 64
    centres = rng.normal(size=(clusters, latent))
    labels = rng.integers(0, clusters, size=N)
    points = centres[labels] + rng.normal(size=(N, latent))
    vectors = points @ rng.normal(size=(latent, DIM)) + 0.05 * rng.normal(size=(N, DIM))
    return vectors.astype(np.float32), labels


def cosine_top_k(data, queries, k):
    normed = data / np.linalg.norm(data, axis=1, keepdims=True)
    q = queries / np.linalg.norm(queries, axis=1, keepdims=True)
    return np.argsort(-(q @ normed.T), axis=1)[:, :k]


def recall(results, truth, ids):
    found = sum(len({ids[i] for i in row} & {r.id for r in hits}) for row, hits in zip(truth, results))
    return found / truth.size


def main():
    rng = np.random.default_rng(7)
    data, clusters = make_data(rng)
    ids = [f"item-{i:05d}" for i in range(N)]
    categories = rng.integers(0, len(CATEGORIES), size=N)
    prices = np.round(rng.uniform(1, 100, size=N), 2)
    metadatas = [{"category": CATEGORIES[c], "price": float(p), "cluster": int(k), "in_stock": bool(i % 3)}
                 for i, (c, p, k) in enumerate(zip(categories, prices, clusters))]

    workdir = tempfile.mkdtemp(prefix="quarn-demo-")
    path = os.path.join(workdir, "catalogue")
    print(f"quarn demo: {N:,} vectors of dimension {DIM} in {path}\n")

    print("1. Create the database and load it in batches of", f"{BATCH:,}")
    db = quarn.Database(path, dim=DIM, metric="cosine", m=16, ef_construction=64)
    with Clock("add_many") as clock:
        for start in range(0, N, BATCH):
            end = start + BATCH
            db.add_many(ids[start:end], data[start:end], metadatas[start:end])
    stats = db.stats()
    print(f"  {len(db):,} records, {N / clock.seconds:,.0f} inserts/s, {stats['num_layers']} graph layers, "
          f"average degree {stats['avg_degree_layer0']:.1f} on layer 0, graph search: {not stats['uses_brute_force']}")

    print("\n2. Nearest neighbours of one stored vector")
    hits = db.search(data[123], k=3)
    for hit in hits:
        print(f"  {hit!r} {hit.metadata}")

    print("\n3. A batch of 500 queries, compared with exact brute force")
    queries = data[rng.choice(N, 500, replace=False)] + 0.05 * rng.normal(size=(500, DIM)).astype(np.float32)
    truth = cosine_top_k(data, queries, K)
    with Clock("search_many") as clock:
        results = db.search_many(queries, k=K)
    print(f"  recall@{K}: {recall(results, truth, ids):.3f}, {len(queries) / clock.seconds:,.0f} queries/s")
    with Clock("search_many, ef_search=400"):
        wide = db.search_many(queries, k=K, ef_search=400)
    print(f"  recall@{K} with a wider beam: {recall(wide, truth, ids):.3f}")

    print("\n4. Metadata filters")
    where = {"category": "books", "price": {"$lt": 20}, "in_stock": True}
    hits = db.search(queries[0], k=5, where_filter=where)
    for hit in hits:
        print(f"  {hit.id} distance={hit.distance:.4f} {hit.metadata}")
    assert all(h.metadata["category"] == "books" and h.metadata["price"] < 20 for h in hits)
    if len(hits) < 5:
        print(f"  ({len(hits)} of 5: a filtered graph search only looks at the nearest max(ef, 4k) candidates)")
    expected = sum(m["category"] == "books" and m["price"] < 20 and m["in_stock"] for m in metadatas)
    print(f"  count(where) = {db.count(where):,} (checked by hand: {expected:,})")
    near = db.search(data[5], k=100, max_distance=0.1)
    print(f"  max_distance=0.1 keeps {len(near)} of the 100 nearest to item-00005, "
          f"farthest at {near[-1].distance:.4f}")
    batch = db.search_many(queries[:3], k=2, where_filter={"category": {"$in": ["music", "films"]}})
    print(f"  batch with $in filter: {[[h.metadata['category'] for h in hits] for hits in batch]}")

    print("\n5. Delete 10% of the records, then compact")
    gone = db.delete_many(ids[::10])
    print(f"  deleted {gone:,}: len={len(db):,}, total_slots={db.total_slots:,}, deleted_count={db.deleted_count:,}")
    with Clock("compact"):
        db.compact()
    print(f"  after compaction: total_slots={db.total_slots:,}, deleted_count={db.deleted_count}")
    assert "item-00000" not in db and "item-00001" in db

    print("\n6. Save, reopen, search again")
    with Clock("save"):
        db.save()
    sizes = {name: os.path.getsize(os.path.join(path, name)) for name in sorted(os.listdir(path))}
    print("  files:", ", ".join(f"{name} ({size / 1e6:.1f} MB)" for name, size in sizes.items()))
    before = [h.id for h in db.search(queries[1], k=5)]
    db.close()  # one writer per directory: free it for the reopen
    with Clock("open"):
        reopened = quarn.Database(path)
    after = [h.id for h in reopened.search(queries[1], k=5)]
    print(f"  reopened: {len(reopened):,} records, same top 5: {before == after}")

    print("\n7. Writes after a save survive without another save (write-ahead log)")
    reopened.add("late-arrival", data[0] * -1, {"category": "toys", "price": 1.0})
    reopened.update("item-00001", metadata={"category": "tools", "price": 2.5})
    del reopened, db  # dropped without saving
    recovered = quarn.Database(path)
    print(f"  after replay: 'late-arrival' in db = {'late-arrival' in recovered}, "
          f"item-00001 metadata = {recovered.get('item-00001')[1]}")

    print("\n8. Quantized traversal (SQ8 codes, exact re-ranking)")
    recovered.enable_quantized_search()
    with Clock("search_many, quantized") as clock:
        quantized = recovered.search_many(queries, k=K)
    live_truth = [[i for i in row if ids[i] in recovered][:K] for row in cosine_top_k(data, queries, 2 * K)]
    found = sum(len({ids[i] for i in row} & {r.id for r in hits}) for row, hits in zip(live_truth, quantized))
    print(f"  recall@{K} against the live records: {found / (K * len(queries)):.3f}, "
          f"{recovered.stats()['memory_quantized_bytes'] / 1e6:.1f} MB of codes")

    print("\n9. A context manager saves on exit")
    with recovered as saved:
        saved.upsert("item-00002", data[2], {"category": "food", "price": 9.99})
    print(f"  log after the block: {'wal.quarn' in os.listdir(path)}; "
          f"item-00002 reads back as {quarn.Database(path).get('item-00002')[1]}")
    print(f"\nDone. The database is left in {path}")


if __name__ == "__main__":
    main()
