"""The file naming a database's embedding function: embedding.json in the database directory.

It holds {"format": 1, "name", "dim", "config", "fingerprint"} as JSON. It is written once, by
the writer, with a save's guarantees: a temporary file is written and synced, renamed over the
name, and the directory synced, so a crash leaves either no file or the whole of it.
"""

from __future__ import annotations

import json
import os
from typing import Any, Dict, Optional

FILE_NAME = "embedding.json"
TEMP_NAME = "embedding.json.tmp"
FORMAT = 1
FIELDS = ("name", "dim", "config", "fingerprint")


def read(directory: str) -> Optional[Dict[str, Any]]:
    """The recorded {name, dim, config, fingerprint}, or None when the database records none."""
    path = os.path.join(directory, FILE_NAME)
    try:
        with open(path, "rb") as f:
            raw = f.read()
    except (FileNotFoundError, NotADirectoryError):
        return None
    try:
        data = json.loads(raw)
        if not isinstance(data, dict) or data.get("format") != FORMAT:
            raise ValueError(f"unknown format {data.get('format') if isinstance(data, dict) else data!r}")
        record = {field: data[field] for field in FIELDS}
        if not isinstance(record["name"], str) or not isinstance(record["config"], dict):
            raise ValueError("name must be a string and config an object")
        if isinstance(record["dim"], bool) or not isinstance(record["dim"], int):
            raise ValueError("dim must be an integer")
    except (ValueError, KeyError) as e:  # json.JSONDecodeError is a ValueError
        raise ValueError(f"{path} is damaged: {e}") from None
    return record


def write(directory: str, record: Dict[str, Any]) -> None:
    """Writes the record as a new file; a crash leaves no file or the whole of it."""
    data = {"format": FORMAT, **{field: record[field] for field in FIELDS}}
    body = (json.dumps(data, indent=1, sort_keys=True) + "\n").encode()
    temp = os.path.join(directory, TEMP_NAME)
    fd = os.open(temp, os.O_WRONLY | os.O_CREAT | os.O_TRUNC | os.O_CLOEXEC, 0o644)
    try:
        try:
            view = memoryview(body)
            while view:
                view = view[os.write(fd, view):]
            os.fsync(fd)
        finally:
            os.close(fd)
        os.replace(temp, os.path.join(directory, FILE_NAME))
    except BaseException:
        try:
            os.unlink(temp)
        except OSError:
            pass
        raise
    dir_fd = os.open(directory, os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
    try:
        os.fsync(dir_fd)
    finally:
        os.close(dir_fd)


def normalised(record: Dict[str, Any]) -> Dict[str, Any]:
    """The record's fields as they read back from the file, for comparing records."""
    return json.loads(json.dumps({field: record[field] for field in FIELDS}, sort_keys=True))  # type: ignore[no-any-return]
