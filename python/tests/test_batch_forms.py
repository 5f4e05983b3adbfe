"""A batch's vectors in any accepted form: the same log bytes and the same stored vectors, whether
the engine reads a float32 array in place or the binding had to convert or copy the rows."""
import struct
import zlib

import numpy as np
import pytest

import quarn

ROWS, DIM = 40, 6


def insert_frame(id_, row, metadata):
    """One Insert record as the log stores it, built from the documented layout."""
    encoded = id_.encode()
    payload = struct.pack("<I", len(encoded)) + encoded + struct.pack(f"<I{DIM}f", DIM, *row)
    payload += struct.pack("<I", len(metadata)) + metadata.encode()
    body = b"\x01" + payload
    return b"\x01" + struct.pack("<I", len(payload)) + payload + struct.pack("<I", zlib.crc32(body))


def expected_log(ids, rows):
    count = struct.pack("<I", len(ids))
    head = b"\x04" + struct.pack("<I", 4) + count + struct.pack("<I", zlib.crc32(b"\x04" + count))
    return head + b"".join(insert_frame(i, r, '{"n":%d}' % k if k % 2 else "") for k, (i, r) in enumerate(zip(ids, rows)))


def wide(block):
    """The rows as every other column of a wider array: a strided view, not C-contiguous."""
    out = np.zeros((block.shape[0], 2 * DIM), dtype=np.float32)
    out[:, ::2] = block
    return out[:, ::2]


FORMS = {
    "float32, C order": lambda b: np.ascontiguousarray(b),
    "float64": lambda b: b.astype(np.float64),
    "float32, Fortran order": lambda b: np.asfortranarray(b),
    "float32, strided view": wide,
    "big-endian float32": lambda b: b.astype(">f4"),
    "int16": lambda b: np.round(b * 100).astype(np.int16),
    "lists": lambda b: b.tolist(),
}


@pytest.mark.parametrize("form", FORMS)
@pytest.mark.parametrize("method", ["add_many", "upsert_many"])
def test_every_vector_form_logs_the_bytes_of_one_insert_batch_and_stores_the_float32_rows(tmp_path, rng, form, method):
    block = rng.normal(size=(ROWS, DIM)).astype(np.float32)
    given = FORMS[form](block)
    rows = np.asarray(given, dtype=np.float32)
    ids = [f"id-{i}" for i in range(ROWS)]
    metadatas = [{"n": k} if k % 2 else None for k in range(ROWS)]
    db = quarn.Database(str(tmp_path / "db"), dim=DIM)
    getattr(db, method)(ids, given, metadatas)
    assert (tmp_path / "db" / "wal.quarn").read_bytes() == expected_log(ids, rows.tolist())
    assert np.array_equal(db.get_many(ids)[0], rows)


def test_the_store_keeps_its_own_copy_of_an_array_read_in_place(path, rng):
    block = rng.normal(size=(ROWS, DIM)).astype(np.float32)
    kept = block.copy()
    db = quarn.Database(path, dim=DIM)
    ids = [str(i) for i in range(ROWS)]
    db.add_many(ids, block)
    block[:] = 7.0
    del block
    assert np.array_equal(db.get_many(ids)[0], kept)
    assert db.search(kept[5], k=1)[0].id == "5"
    db.close()
    assert np.array_equal(quarn.Database(path).get_many(ids)[0], kept)
