"""durability="sync": chosen per open, validated, kept by every write form, and sync() on demand.
That a sync-mode write is on the disk before it returns is checked in the engine's own tests,
through the file layer's hook; here the Python surface."""
import numpy as np
import pytest

import quarn

DIM = 4


@pytest.mark.parametrize("value, expected", [(None, "flush"), ("flush", "flush"), ("sync", "sync")])
def test_durability_is_what_the_open_asked_for_and_is_not_stored(tmp_path, value, expected):
    path = str(tmp_path / "db")
    kwargs = {} if value is None else {"durability": value}
    db = quarn.Database(path, dim=DIM, **kwargs)
    assert db.durability == expected
    db.close()
    reopened = quarn.Database(path)
    assert reopened.durability == "flush"
    reopened.close()


@pytest.mark.parametrize("value, error, message", [
    ("fsync", ValueError, "durability must be 'flush' or 'sync', got 'fsync'"),
    ("SYNC", ValueError, "durability must be 'flush' or 'sync'"),
    (1, TypeError, "durability"),
])
def test_a_bad_durability_is_refused_before_anything_is_created(tmp_path, value, error, message):
    path = tmp_path / "db"
    with pytest.raises(error, match=message):
        quarn.Database(str(path), dim=DIM, durability=value)
    assert not path.exists()


def test_every_write_form_in_sync_mode_survives_a_reopen_without_save(tmp_path):
    path = str(tmp_path / "db")
    rng = np.random.default_rng(1)
    db = quarn.Database(path, dim=DIM, metric="l2", durability="sync")
    db.add("a", rng.normal(size=DIM), {"n": 1})
    db.upsert("b", rng.normal(size=DIM))
    db.add_many(["c", "d", "e"], rng.normal(size=(3, DIM)).astype(np.float32))
    db.upsert_many(["c", "f"], rng.normal(size=(2, DIM)).astype(np.float32))
    db.update("a", metadata={"n": 2})
    db.delete("b")
    db.delete_many(["d"])
    expected = {i: db.get(i) for i in db.ids()}
    db.close()
    db = quarn.Database(path)
    assert sorted(db.ids()) == sorted(expected)
    for i, (vector, metadata) in expected.items():
        got_vector, got_metadata = db.get(i)
        np.testing.assert_array_equal(got_vector, vector)
        assert got_metadata == metadata
    db.close()


def test_sync_works_in_both_modes_and_on_a_reader(tmp_path):
    path = str(tmp_path / "db")
    db = quarn.Database(path, dim=DIM)
    db.sync()  # nothing logged yet
    db.add("a", [1, 0, 0, 0])
    db.sync()
    reader = quarn.Database(path, read_only=True)
    reader.sync()
    assert reader.ids() == ["a"]
    reader.close()
    db.close()
    with pytest.raises(ValueError):
        db.sync()
