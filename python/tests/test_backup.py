"""db.backup(dest) and `quarn backup`: a copy of one moment of a live database, and the destinations refused."""
import os
import pathlib
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import quarn

from conftest import scaled


def state(db):
    return {i: (tuple(db.get(i)[0]), db.get(i)[1]) for i in db.ids()}


def copy_state(path):
    copy = quarn.Database(path, read_only=True)
    try:
        assert copy.verify() == []
        return state(copy)
    finally:
        copy.close()


def matching_prefixes(steps, snapshot, prefix):
    """The numbers of steps after which a writer's records (ids starting with prefix) are those of snapshot."""
    mine = {i: r for i, r in snapshot.items() if i.startswith(prefix)}
    expected = {}
    out = [0] if not mine else []
    for n, step in enumerate(steps, 1):
        for id_, record in step:
            if record is None:
                expected.pop(id_, None)
            else:
                expected[id_] = record
        if expected == mine:
            out.append(n)
    return out


def test_backup_under_concurrent_writes_is_a_point_of_each_writers_history(tmp_path):
    db = quarn.Database(tmp_path / "src", dim=4, metric="l2")
    db.add_many([f"pad{i}" for i in range(5000)], np.full((5000, 4), 0.25, dtype=np.float32))
    steps_per_writer = scaled(400, 100)
    histories = {p: [] for p in "abc"}
    done = {p: 0 for p in "abc"}
    errors = []
    taken = []

    def write(p):
        # Writers go on past their steps until two backups were taken beside them, so a slow
        # machine still copies a database that is being written.
        try:
            i = 0
            while i < steps_per_writer or (len(taken) < 2 and i < 50 * steps_per_writer):
                id_ = f"{p}{i % 31}"
                vector = (float(ord(p)), float(i), 0.0, 1.0)
                if p == "a" and i % 4 == 0:
                    ids = [f"{p}{(i + 7 * k) % 31}" for k in range(3)]
                    rows = [(float(k), float(i), 2.0, 1.0) for k in range(3)]
                    db.upsert_many(ids, rows, [{"i": i}] * 3)
                    step = [(x, (r, {"i": i})) for x, r in zip(ids, rows)]
                elif i % 5 == 2:
                    db.delete(id_)
                    step = [(id_, None)]
                else:
                    db.upsert(id_, vector, {"i": i})
                    step = [(id_, (vector, {"i": i}))]
                histories[p].append(step)
                done[p] = i + 1
                if p == "b" and i % 50 == 0:
                    db.save()
                i += 1
        except Exception as err:  # reported by the main thread
            errors.append(err)

    writers = [threading.Thread(target=write, args=(p,)) for p in "abc"]
    for w in writers:
        w.start()
    while any(w.is_alive() for w in writers):
        before = dict(done)
        dest = tmp_path / f"copy{len(taken)}"
        db.backup(dest)
        taken.append((dest, before, dict(done)))
        time.sleep(0.005)
    for w in writers:
        w.join()
    assert errors == []
    assert len(taken) >= 2
    for dest, before, after in taken:
        snapshot = copy_state(dest)
        for p in "abc":
            points = matching_prefixes(histories[p], snapshot, p)
            assert any(before[p] <= n <= after[p] + 1 for n in points), (dest, p, before[p], after[p], points)


def test_backup_of_a_read_only_open_with_a_path_like_destination(tmp_path):
    writer = quarn.Database(tmp_path / "src", dim=2, quantize=True)
    writer.add("a", [1, 0], {"k": 1})
    writer.save()
    writer.add("b", [0, 1])
    reader = quarn.Database(tmp_path / "src", read_only=True)
    reader.backup(pathlib.Path(tmp_path / "copy"))
    assert copy_state(tmp_path / "copy") == state(writer)
    assert "writer.lock" not in os.listdir(tmp_path / "copy")
    # The copy is a database of its own: a writer of it does not meet the source's lock.
    copy = quarn.Database(tmp_path / "copy")
    copy.add("c", [1, 1])
    assert "c" not in writer


def _not_writable(tmp_path):
    if os.geteuid() != 0:
        locked = tmp_path / "locked"
        locked.mkdir(mode=0o555)
        return locked / "copy"
    if not os.path.isdir("/sys"):
        pytest.skip("no directory a superuser cannot write")
    return pathlib.Path("/sys/quarn-backup")


def _full_directory(src, tmp):
    (tmp / "full").mkdir()
    (tmp / "full" / "x").write_text("x")
    return tmp / "full"


def _a_file(src, tmp):
    (tmp / "file").write_text("x")
    return tmp / "file"


@pytest.mark.parametrize("make, message", [
    (_full_directory, "exists and is not empty"),
    (_a_file, "exists and is not a directory"),
    (lambda src, tmp: src, "is inside the database directory"),
    (lambda src, tmp: src / "nested", "is inside the database directory"),
    (lambda src, tmp: tmp / "missing" / "copy", "is not a directory"),
    (lambda src, tmp: _not_writable(tmp), "is not writable"),
], ids=["not empty", "a file", "the source", "inside the source", "parent missing", "not writable"])
def test_bad_destinations_fail_naming_the_path_and_leave_nothing(tmp_path, make, message):
    src = tmp_path / "src"
    db = quarn.Database(src, dim=2)
    db.add("a", [1, 0])
    dest = make(src, tmp_path)
    around = sorted(os.listdir(dest.parent)) if dest.parent.is_dir() else None
    with pytest.raises(ValueError) as err:
        db.backup(dest)
    assert f"'{dest}'" in str(err.value) and message in str(err.value), str(err.value)
    if around is not None:
        assert sorted(os.listdir(dest.parent)) == around
    assert db.ids() == ["a"]


def test_cli_backup_beside_a_writer_in_another_process(tmp_path):
    pytest.importorskip("click")
    src, dest = tmp_path / "src", tmp_path / "copy"
    writer = quarn.Database(src, dim=3)
    writer.add_many([f"r{i}" for i in range(100)], np.eye(3, dtype=np.float32)[np.arange(100) % 3])
    writer.save()
    writer.upsert("r1", [0.5, 0.5, 0.5], {"after": "save"})
    result = subprocess.run([sys.executable, "-m", "quarn", "backup", str(src), str(dest)], capture_output=True,
                            text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == f"{src}: backed up to {dest}"
    assert copy_state(dest) == state(writer)

    again = subprocess.run([sys.executable, "-m", "quarn", "backup", str(src), str(dest)], capture_output=True,
                           text=True, timeout=120)
    assert again.returncode != 0
    assert f"backup destination '{dest}' exists and is not empty" in again.stderr


def test_backup_keeps_documents_from_the_snapshot_and_the_log(tmp_path):
    db = quarn.Database(str(tmp_path / "src"), dim=3)
    db.add("saved", [1, 0, 0], document="in documents.bin")
    db.add("bare", [0, 1, 0])
    db.save()
    db.add_many(["logged", "other"], [[0, 0, 1], [1, 1, 0]], documents=["in the log", None])
    db.update("saved", document="changed after the save")
    db.backup(str(tmp_path / "copy"))
    ids = ["saved", "bare", "logged", "other"]
    expected = db.get_many(ids, include_documents=True)[2]
    db.close()
    copy = quarn.Database(str(tmp_path / "copy"), read_only=True)
    assert copy.get_many(ids, include_documents=True)[2] == expected
    copy.close()
    assert expected == ["changed after the save", None, "in the log", None]
