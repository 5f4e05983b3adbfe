"""Damage found, not served: the log's torn tail against damage before its end, recover=True and
its report, verify_files against the manifest, directories without one, and the command line."""
import os
import shutil

import numpy as np
import pytest

import quarn

N = 2000


def build(path, rng):
    """A saved database (with documents) and a log of three records after the save. Returns the
    log offsets where the second and third records start."""
    # 2,000 vectors of 16: the norms an open reads start in vectors.bin's second 64 KiB block.
    with quarn.Database(path, dim=16, metric="euclidean") as db:
        db.add_many([f"r{i}" for i in range(N)], rng.random((N, 16), dtype=np.float32),
                    [{"i": i} for i in range(N)], documents=[f"doc {i}" for i in range(N)])
    db = quarn.Database(path)
    wal = os.path.join(path, "wal.quarn")
    offsets = []
    for name in ("x1", "x2", "x3"):
        offsets.append(os.path.getsize(wal) if os.path.exists(wal) else 0)
        db.add(name, np.ones(16, dtype=np.float32), {"n": name})
    db.close()  # nothing saved: the three records stay in the log
    return offsets


def flip(path, name, at):
    with open(os.path.join(path, name), "r+b") as f:
        f.seek(at)
        byte = f.read(1)
        f.seek(at)
        f.write(bytes([byte[0] ^ 0x10]))


def ids_of(path, **options):
    with quarn.Database(path, read_only=True, **options) as db:
        return sorted(db.ids())


@pytest.mark.parametrize("options", [{}, {"read_only": True}, {"dim": 16}], ids=["open", "read_only", "create mode"])
def test_damage_before_the_logs_end_fails_every_open_naming_file_and_offset(path, rng, options):
    offsets = build(path, rng)
    flip(path, "wal.quarn", offsets[1] + 12)  # inside x2, x3 readable after it
    wal = os.path.join(path, "wal.quarn")
    with pytest.raises(ValueError) as err:
        quarn.Database(path, **options)
    assert str(err.value).startswith(f"io error: {wal}: the record at byte offset {offsets[1]} fails its checksum")
    assert "recover=True" in str(err.value)


def test_recover_keeps_the_records_before_the_damage_and_reports_the_rest(path, rng):
    offsets = build(path, rng)
    flip(path, "wal.quarn", offsets[1] + 12)
    size = os.path.getsize(os.path.join(path, "wal.quarn"))
    with pytest.raises(TypeError):
        quarn.Database(path, None, None, None, None, False, False, True)  # keyword only
    db = quarn.Database(path, recover=True)
    assert "x1" in db and "x2" not in db and "x3" not in db and len(db) == N + 1
    assert db.recovery_report == [{
        "file": "wal.quarn", "kind": "damage", "offset": offsets[1], "bytes": size - offsets[1], "records": 1,
        "message": db.recovery_report[0]["message"]}]
    assert str(offsets[1]) in db.recovery_report[0]["message"]
    db.save()
    db.close()
    with quarn.Database(path) as again:
        assert again.recovery_report == [] and len(again) == N + 1


def test_torn_last_record_is_dropped_quietly_and_listed(path, rng):
    offsets = build(path, rng)
    wal = os.path.join(path, "wal.quarn")
    size = os.path.getsize(wal)
    os.truncate(wal, size - 2)
    with quarn.Database(path) as db:
        assert "x2" in db and "x3" not in db
        (note,) = db.recovery_report
        assert (note["kind"], note["offset"], note["bytes"], note["records"]) == ("torn_tail", offsets[2],
                                                                                 size - 2 - offsets[2], 0)


# (file, where: an offset, from the end when negative, or the bytes to flip the first of, what an
# open does, what the error or verify_files says). Damage that still parses is found by the
# checksums; recover=True then opens and says so. documents.bin carries a checksum of its own.
SNAPSHOT_DAMAGE = [
    ("vectors.bin", 10, "opens", "vectors.bin: the block at byte offset 0 fails its checksum"),
    ("vectors.bin", -3, "checksum", "vectors.bin: the block at byte offset 131072 fails its checksum"),
    ("graph.quarn", b"1234}", "checksum", "graph.quarn: the block at byte offset"),  # a metadata digit
    ("manifest.quarn", 40, "checksum", "manifest.quarn: manifest fails its checksum"),
    ("documents.bin", 40, "refused", "documents.bin: checksum mismatch"),
]


@pytest.mark.parametrize("name, where, outcome, problem", SNAPSHOT_DAMAGE)
def test_snapshot_damage_is_refused_or_found_by_verify_files(path, rng, name, where, outcome, problem):
    build(path, rng)
    target = os.path.join(path, name)
    if isinstance(where, bytes):
        at = open(target, "rb").read().index(where)
    else:
        at = where if where >= 0 else os.path.getsize(target) + where
    flip(path, name, at)
    if outcome != "opens":
        # Open-only words damage that no checksum found as a missing database, as it always has.
        for options in ({"read_only": True},) if outcome == "refused" else ({}, {"read_only": True}):
            with pytest.raises(ValueError) as err:
                quarn.Database(path, **options)
            assert problem in str(err.value)
        if outcome == "refused":
            with pytest.raises(ValueError):
                quarn.Database(path, recover=True)
            return
        with quarn.Database(path, recover=True) as db:
            assert [(n["file"], n["kind"]) for n in db.recovery_report] == [(name, "checksum")]
            assert problem in db.recovery_report[0]["message"]
        return
    with quarn.Database(path) as db:
        report = db.verify_files()
    assert report["checked"] and len(report["problems"]) == 1 and problem in report["problems"][0]


def test_verify_files_of_a_sound_and_of_a_pre_manifest_directory(path, rng):
    build(path, rng)
    with quarn.Database(path) as db:
        report = db.verify_files()
        sizes = sum(os.path.getsize(os.path.join(path, n)) for n in ("graph.quarn", "vectors.bin", "documents.bin"))
        assert report == {"checked": True, "generation": report["generation"], "files": 3, "bytes": sizes,
                          "problems": []}
        assert report["generation"] >= 2
    os.remove(os.path.join(path, "manifest.quarn"))
    db = quarn.Database(path)
    assert db.verify_files() == {"checked": False, "generation": None, "files": 0, "bytes": 0, "problems": []}
    db.save()
    assert db.verify_files()["checked"]
    db.close()


def test_cli_verify_reports_checksum_damage_and_unchecked_directories(path, rng, tmp_path):
    pytest.importorskip("click")
    from click.testing import CliRunner

    from quarn.cli import cli

    def verify(where):
        result = CliRunner().invoke(cli, ["verify", str(where), "-q"], catch_exceptions=False)
        return result.exit_code, result.output

    build(path, rng)
    assert verify(path) == (0, f"{path}: OK\n")
    flipped = tmp_path / "flipped"
    shutil.copytree(path, flipped)
    flip(str(flipped), "vectors.bin", 10)
    code, out = verify(flipped)
    assert code == 1 and "vectors.bin" in out and "FAILED (1 problem)" in out
    old = tmp_path / "old"
    shutil.copytree(path, old)
    os.remove(old / "manifest.quarn")
    assert verify(old) == (0, f"{old}: OK (unchecked: no manifest of checksums)\n")
