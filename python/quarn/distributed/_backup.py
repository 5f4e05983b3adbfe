"""ShardedDatabase.backup: every shard's own backup, plus the manifest, in a directory that
appears at the destination only when it is complete."""

from __future__ import annotations

import errno
import itertools
import os
import shutil

from quarn.distributed._manifest import MANIFEST

_counter = itertools.count()


def _refuse(dest: str, why: str) -> ValueError:
    return ValueError(f"backup destination '{dest}' {why}")


def check_destination(root: str, given: str) -> str:
    """The resolved destination, refused as a single database's backup refuses it."""
    if not given:
        raise ValueError("backup destination must not be empty")
    source, target = os.path.realpath(root), os.path.realpath(given)
    if target == source or target.startswith(source.rstrip("/") + "/"):
        raise _refuse(given, f"is inside the database directory '{root}'")
    parent = os.path.dirname(target)
    if not os.path.isdir(parent):
        raise _refuse(given, f"cannot be made: '{parent}' is not a directory")
    if os.path.lexists(target):
        if not os.path.isdir(target):
            raise _refuse(given, "exists and is not a directory")
        if os.listdir(target):
            raise _refuse(given, "exists and is not empty")
    return target


def _fsync(path: str) -> None:
    fd = os.open(path, os.O_RDONLY)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)


def backup(shards, root: str, dest) -> None:
    """Backs every shard up into a hidden directory beside ``dest``, adds a copy of the manifest and
    renames the directory into place; on any failure removes it, leaving ``dest`` as it was."""
    given = os.fsdecode(os.fspath(dest))
    target = check_destination(root, given)
    parent = os.path.dirname(target)
    temp = os.path.join(parent, f".{os.path.basename(target)}.backup-{os.getpid()}-{next(_counter)}")
    try:
        os.mkdir(temp)
    except PermissionError as error:
        raise _refuse(given, f"is not writable: {error.strerror}") from None
    except OSError as error:
        if error.errno == errno.EROFS:
            raise _refuse(given, f"is not writable: {error.strerror}") from None
        raise
    try:
        shards.each(lambda s, w: w.call.remote("backup", os.path.join(temp, os.path.basename(shards.path(s)))),
                    "backup")
        # Written once when the collection is created and never changed: its bytes are the copy.
        shutil.copyfile(os.path.join(root, MANIFEST), os.path.join(temp, MANIFEST))
        _fsync(os.path.join(temp, MANIFEST))
        _fsync(temp)
        try:
            os.rename(temp, target)
        except OSError as error:
            if error.errno in (errno.ENOTEMPTY, errno.EEXIST, errno.ENOTDIR, errno.EISDIR):
                raise _refuse(given, "exists and is not empty") from None
            raise
    except BaseException:
        shutil.rmtree(temp, ignore_errors=True)
        raise
    _fsync(parent)
