"""The actors of one collection and the plumbing of calls to them: every call of a fan-out is
submitted at once and every reply awaited before any error is raised; reads, which are safe to
repeat, are sent again after Ray restarts a dead actor."""

from __future__ import annotations

import os
import threading
import time

import ray
from ray.exceptions import RayActorError, RayError

from quarn.distributed._actors import ReplicaActor, ShardActor
from quarn.distributed._errors import NO_PARTIAL, ShardUnavailableError

_READ_ATTEMPTS = 3


class Shards:
    def __init__(self, root: str, count: int, params: dict, replicas: int, *, max_restarts: int,
                 actor_options, restart_timeout: float):
        self.root = root
        self.count = count
        self.restart_timeout = restart_timeout
        self._lock = threading.Lock()
        self._turn = 0
        options = {"num_cpus": 0, "scheduling_strategy": "SPREAD", **(actor_options or {}),
                   "max_restarts": max_restarts, "max_task_retries": 0}
        writer_cls = ray.remote(ShardActor).options(**options)
        # A restarted writer waits briefly for its dead predecessor to let go of the directory;
        # a directory held by a live writer elsewhere is refused after that wait.
        self.writers: list = [writer_cls.remote(self.path(s), params, min(restart_timeout, 10.0)) for s in range(count)]
        self.replicas: list = [[] for _ in range(count)]
        try:
            self.each(lambda s, w: w.ready.remote(), "open")
            if replicas:
                replica_cls = ray.remote(ReplicaActor).options(**options)
                self.replicas = [[replica_cls.remote(self.path(s)) for _ in range(replicas)] for s in range(count)]
                self.gather({(s, r): a.ready.remote for s, group in enumerate(self.replicas)
                             for r, a in enumerate(group)}, "replica open")
        except BaseException:
            self.close()
            raise

    def path(self, shard: int) -> str:
        return os.path.join(self.root, f"shard-{shard:03d}")

    def lost(self, shard, what: str, error: BaseException, outcome: str = NO_PARTIAL) -> ShardUnavailableError:
        shard = shard[0] if isinstance(shard, tuple) else shard
        detail = str(error).strip().split("\n")[0].rstrip(".")
        detail = detail if len(detail) <= 160 else detail[:157] + "..."
        return ShardUnavailableError(
            f"shard {shard} ({self.path(shard)}) failed during {what}: {type(error).__name__}: {detail}. "
            f"{outcome} Ray restarts the actor from its directory; retry the call.")

    def get(self, shard: int, ref, what: str, outcome: str = NO_PARTIAL):
        """The value of one shard reply; raises the engine's error or ShardUnavailableError."""
        try:
            status, value = ray.get(ref)
        except RayError as error:
            raise self.lost(shard, what, error, outcome) from None
        if status == "err":
            raise value
        return value

    def replies(self, calls: dict, what: str, outcome: str = NO_PARTIAL, retry: bool = False) -> dict:
        """Submits every call at once and awaits them all; a key is a shard or (shard, replica).

        Each reply is ("ok", value), ("err", the engine's exception) or ("lost", ShardUnavailableError).
        With ``retry`` (reads only) a call that met a dead or unreachable actor is sent again, up to
        twice, and waits for Ray's restart of it.
        """
        refs = {key: call() for key, call in calls.items()}
        out = {}
        attempts = _READ_ATTEMPTS if retry else 1
        for key, ref in refs.items():
            for attempt in range(attempts):
                try:
                    out[key] = ray.get(ref)
                    break
                except RayError as error:
                    out[key] = ("lost", self.lost(key, what, error, outcome))
                    if attempt + 1 < attempts:
                        time.sleep(0.2 * (attempt + 1))
                        ref = calls[key]()
        return out

    def gather(self, calls: dict, what: str, outcome: str = NO_PARTIAL, retry: bool = False) -> dict:
        """The values of every call; raises the first failure, by key order, once all have answered."""
        values = {}
        for key, (status, value) in self.replies(calls, what, outcome, retry).items():
            if status != "ok":
                raise value
            values[key] = value
        return values

    def each(self, submit, what: str, shards=None, outcome: str = NO_PARTIAL, retry: bool = False) -> dict:
        """Runs submit(shard, writer) on the shards (all by default) in parallel."""
        shards = range(self.count) if shards is None else shards
        return self.gather({s: (lambda s=s: submit(s, self.writers[s])) for s in shards}, what, outcome, retry)

    def reader(self, shard: int):
        """The actor to serve a search on a shard: its replicas in turn, or its writer."""
        group = self.replicas[shard]
        if not group:
            return self.writers[shard]
        with self._lock:
            self._turn += 1
            turn = self._turn
        return group[turn % len(group)]

    def await_restart(self, shard: int) -> bool:
        """Waits until Ray has restarted a shard's writer and it has reopened its directory."""
        deadline = time.monotonic() + self.restart_timeout
        while time.monotonic() < deadline:
            try:
                status, _ = ray.get(self.writers[shard].ready.remote(),
                                    timeout=max(0.1, deadline - time.monotonic()))
                return status == "ok"
            except RayActorError:
                time.sleep(0.2)  # still restarting
            except RayError:
                return False
        return False

    def refresh_replicas(self) -> None:
        if any(self.replicas):
            self.gather({(s, r): a.reload.remote for s, group in enumerate(self.replicas)
                         for r, a in enumerate(group)}, "replica reload", retry=True)

    def close(self) -> None:
        """Releases every shard directory and ends the actors."""
        actors = [*self.writers, *(a for group in self.replicas for a in group)]
        refs = [a.close.remote() for a in actors]
        for ref in refs:
            try:
                ray.get(ref, timeout=self.restart_timeout)
            except RayError:
                pass
        for actor in actors:
            ray.kill(actor, no_restart=True)
