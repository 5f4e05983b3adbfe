#!/usr/bin/env python3
"""Crash loop: kills a writing process again and again and checks that no acknowledged write is lost.

Each round starts a child process that opens the database and writes to it (add, add_many, upsert,
upsert_many, update, delete, delete_many, save, compact in a random mix from a fixed seed per
round). Before each call the child sends the parent the call with all of its arguments, and after
the call has returned it sends an acknowledgement. The parent SIGKILLs the child at a random moment
(some rounds aim at the inside of a save or a compaction), waits until it is dead, reopens the
database and checks that

  * every id has exactly its acknowledged state: vector bits and metadata, or absent after a delete;
  * the one call in flight at the kill (sent, not acknowledged) left each id it names either as it
    was before the call or as the call would leave it;
  * no id appears that no call ever named;
  * an add_many or upsert_many in flight left all of its records or none of them (delete_many
    logs id by id, so it may stop part way; those calls are only counted).

The state found becomes the expected state of the next round. Not run by CI:

    python3 scripts/crash_loop.py                    # 500 kills
    python3 scripts/crash_loop.py --kills 50 --seed 3 --dir /tmp/q

The installed package is used (pip install --no-build-isolation . after bash scripts/setup.sh).
Exits 1 when any check failed.
"""

from __future__ import annotations

import argparse
import json
import os
import random
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

DIM = 12
# A fresh database directory every this many rounds, cycling through these settings.
ROUNDS_PER_DIRECTORY = 50
SETTINGS = [("cosine", False), ("l2", True), ("dot", False), ("l2", False)]
MAX_LIVE = 2500
HANG_SECONDS = 120.0


# ---------------------------------------------------------------------------------------------
# Child: writes and reports.
# ---------------------------------------------------------------------------------------------


def random_metadata(rng: random.Random, serial: int):
    kind = rng.random()
    if kind < 0.15:
        return None
    meta = {"n": serial, "tag": rng.choice(["red", "green", "blue", "é😀", ""])}
    if kind < 0.5:
        meta["price"] = rng.uniform(-1e6, 1e6)
    if kind < 0.3:
        meta["nested"] = {"list": [rng.randint(-(2**63), 2**64 - 1), None, True, 1.0], "s": "x" * rng.randint(0, 40)}
    if kind > 0.9:
        meta["flag"] = rng.random() < 0.5
    return meta


def run_child(path: str, fd: int, seed: int, metric: str, quantize: bool) -> None:
    import numpy as np

    import quarn

    rng = random.Random(seed)
    nprng = np.random.default_rng(seed)

    def send(line: str) -> None:
        data = (line + "\n").encode()
        while data:
            data = data[os.write(fd, data) :]

    db = quarn.Database(path, dim=DIM, metric=metric, quantize=quantize)
    live = set(db.ids())
    serial = 0
    send("R")

    def new_id() -> str:
        nonlocal serial
        serial += 1
        return f"s{seed}-{serial}"

    def vec():
        return nprng.standard_normal(DIM).astype(np.float32)

    ops = ["add", "add_many", "upsert", "upsert_many", "update", "delete", "delete_many", "save", "compact"]
    weights = [25, 12, 14, 6, 14, 10, 5, 9, 5]
    while True:
        op = rng.choices(ops, weights)[0]
        if len(live) > MAX_LIVE and op in ("add", "add_many"):
            op = "delete_many"
        existing = sorted(live)
        if not existing and op in ("update", "delete", "delete_many"):
            op = "add"
        call: dict = {"op": op}
        if op == "add" or op == "upsert":
            # upsert replaces a live record half of the time
            ident = rng.choice(existing) if op == "upsert" and existing and rng.random() < 0.5 else new_id()
            v = vec()
            m = random_metadata(rng, serial)
            call.update(ids=[ident], vectors=[v.tolist()], metadatas=[m])
            send("B " + json.dumps(call))
            getattr(db, op)(ident, v, m)
            live.add(ident)
        elif op == "add_many" or op == "upsert_many":
            count = rng.randint(1, 64)
            ids = [new_id() for _ in range(count)]
            if op == "upsert_many" and existing:
                ids[: count // 2] = rng.sample(existing, min(count // 2, len(existing)))
                ids = list(dict.fromkeys(ids))
            vs = nprng.standard_normal((len(ids), DIM)).astype(np.float32)
            ms = [random_metadata(rng, serial) for _ in ids]
            call.update(ids=ids, vectors=vs.tolist(), metadatas=ms)
            send("B " + json.dumps(call))
            getattr(db, op)(ids, vs, ms)
            live.update(ids)
        elif op == "update":
            ident = rng.choice(existing)
            which = rng.choice(["vector", "metadata", "both"])
            v = vec() if which != "metadata" else None
            m = (random_metadata(rng, serial) or {}) if which != "vector" else None
            call.update(ids=[ident], vector=None if v is None else v.tolist(), metadata=m, which=which)
            send("B " + json.dumps(call))
            if which == "vector":
                db.update(ident, vector=v)
            elif which == "metadata":
                db.update(ident, metadata=m)
            else:
                db.update(ident, vector=v, metadata=m)
        elif op == "delete":
            # a missing id now and then: the call returns False and changes nothing
            ident = rng.choice(existing) if rng.random() < 0.9 else new_id()
            call.update(ids=[ident])
            send("B " + json.dumps(call))
            db.delete(ident)
            live.discard(ident)
        elif op == "delete_many":
            ids = rng.sample(existing, min(len(existing), rng.randint(1, 80)))
            call.update(ids=ids)
            send("B " + json.dumps(call))
            db.delete_many(ids)
            live.difference_update(ids)
        else:
            send("B " + json.dumps(call))
            getattr(db, op)()
        send("A")


# ---------------------------------------------------------------------------------------------
# Parent: expected state, kills, checks.
# ---------------------------------------------------------------------------------------------


def canonical_meta(meta) -> str:
    # 1 and 1.0 and True stay distinct in this form, as they do in the database.
    return json.dumps(meta, sort_keys=True, ensure_ascii=False)


def vector_bits(values) -> bytes:
    import numpy as np

    return np.asarray(values, dtype=np.float32).tobytes()


def apply_call(state: dict, call: dict) -> None:
    """The state after a call returned: id -> (vector bits, canonical metadata)."""
    op = call["op"]
    if op in ("add", "upsert", "add_many", "upsert_many"):
        for ident, v, m in zip(call["ids"], call["vectors"], call["metadatas"]):
            state[ident] = (vector_bits(v), canonical_meta(m))
    elif op == "update":
        ident = call["ids"][0]
        bits, meta = state[ident]
        if call["vector"] is not None:
            bits = vector_bits(call["vector"])
        if call["which"] != "vector":
            meta = canonical_meta(call["metadata"])
        state[ident] = (bits, meta)
    elif op in ("delete", "delete_many"):
        for ident in call["ids"]:
            state.pop(ident, None)


def read_state(db) -> dict:
    out = {}
    for ident in db.ids():
        vector, meta = db.get(ident)
        out[ident] = (vector_bits(vector), canonical_meta(meta))
    return out


def close_db(db) -> None:
    close = getattr(db, "close", None)
    if close is not None:
        close()


class Totals:
    def __init__(self) -> None:
        self.kills = 0
        self.in_save = 0
        self.in_compact = 0
        self.in_write = 0
        self.between_calls = 0
        self.before_ready = 0
        self.acknowledged = 0
        self.partial_batches: dict = {}  # op -> calls found partly applied
        self.failures: list[str] = []


def check_round(db, expected: dict, in_flight: dict | None, attempted: set, totals: Totals, label: str) -> dict:
    found = read_state(db)
    flight_ids = set(in_flight.get("ids", [])) if in_flight else set()
    after = dict(expected)
    if in_flight:
        apply_call(after, in_flight)
    problems = []
    for ident in sorted(set(expected) | set(found) | flight_ids):
        if ident not in attempted:
            problems.append(f"{ident!r} was never written")
            continue
        got = found.get(ident)
        want = expected.get(ident)
        if ident in flight_ids:
            if got != want and got != after.get(ident):
                problems.append(f"{ident!r} (in flight {in_flight['op']}) is neither its state before nor after the call")
        elif got != want:
            what = "missing" if got is None else ("present after its delete" if want is None else "changed")
            problems.append(f"{ident!r} {what}")
    if in_flight and in_flight["op"] in ("add_many", "upsert_many", "delete_many") and len(flight_ids) > 1:
        applied = sum(1 for i in flight_ids if found.get(i) == after.get(i) and after.get(i) != expected.get(i))
        changed = sum(1 for i in flight_ids if after.get(i) != expected.get(i))
        if 0 < applied < changed:
            op = in_flight["op"]
            totals.partial_batches[op] = totals.partial_batches.get(op, 0) + 1
            # delete_many logs and applies id by id; the other two log the whole batch in one
            # frame, so a replay applies all of it or none.
            if op != "delete_many":
                problems.append(f"{op} in flight applied to {applied} of {changed} records")
    if problems:
        totals.failures.append(f"{label}: " + "; ".join(problems[:5]) + (f" (+{len(problems) - 5} more)" if len(problems) > 5 else ""))
    return found


def run_round(args, round_no: int, path: str, metric: str, quantize: bool, expected: dict, attempted: set, totals: Totals):
    import quarn

    rng = random.Random(args.seed * 1_000_003 + round_no)
    child_seed = args.seed * 1_000_003 + round_no
    read_fd, write_fd = os.pipe()
    proc = subprocess.Popen(
        [sys.executable, os.path.abspath(__file__), "--child", path, str(write_fd), str(child_seed), metric, str(int(quantize))],
        pass_fds=(write_fd,),
    )
    os.close(write_fd)

    # Most rounds die at a random moment after the child is ready; about half of them right
    # after the start of a save or compaction instead, and a few during start-up and open.
    pick = rng.random()
    aim_inside = pick < 0.5
    aim_op = b'"save"' if rng.random() < 0.5 else b'"compact"'
    started = time.monotonic()
    delay = rng.uniform(0.0, 1.2)
    deadline = started + rng.uniform(0.0, 0.8) if pick > 0.95 else None
    raw = b""
    scanned = 0
    last_message = started
    exited_early = False
    while True:
        now = time.monotonic()
        if deadline is not None and now >= deadline:
            break
        if now - last_message > HANG_SECONDS:
            totals.failures.append(f"round {round_no}: child silent for {HANG_SECONDS:.0f} s (hang)")
            break
        timeout = 0.5 if deadline is None else max(0.0, deadline - now)
        readable, _, _ = select.select([read_fd], [], [], timeout)
        if not readable:
            continue
        chunk = os.read(read_fd, 1 << 16)
        if not chunk:
            exited_early = True
            break
        last_message = time.monotonic()
        raw += chunk
        end = raw.rfind(b"\n") + 1
        for line in raw[scanned:end].split(b"\n")[:-1]:
            if deadline is not None:
                break
            if line == b"R" and not aim_inside:
                deadline = last_message + delay
            elif aim_inside and line.startswith(b"B ") and aim_op in line:
                deadline = last_message + rng.uniform(0.0, 0.03)
        scanned = end
    if not exited_early:
        proc.send_signal(signal.SIGKILL)
    code = proc.wait()  # the child is dead from here on
    while True:
        chunk = os.read(read_fd, 1 << 16)
        if not chunk:
            break
        raw += chunk
    os.close(read_fd)
    if exited_early or code != -signal.SIGKILL:
        totals.failures.append(f"round {round_no}: child ended by itself with status {code}")

    # Replay the messages: acknowledged calls move the expected state; a trailing call without
    # its acknowledgement was in flight. A torn last line never reached the call.
    complete = raw.split(b"\n")[:-1]
    pending = None
    saw_ready = False
    for line in complete:
        if line == b"R":
            saw_ready = True
        elif line.startswith(b"B "):
            pending = json.loads(line[2:])
            attempted.update(pending.get("ids", []))
        elif line == b"A":
            apply_call(expected, pending)
            totals.acknowledged += 1
            pending = None
    totals.kills += 1
    if not saw_ready:
        totals.before_ready += 1
    elif pending is None:
        totals.between_calls += 1
    elif pending["op"] == "save":
        totals.in_save += 1
    elif pending["op"] == "compact":
        totals.in_compact += 1
    else:
        totals.in_write += 1

    if args.sabotage and os.path.exists(os.path.join(path, "wal.quarn")):
        os.remove(os.path.join(path, "wal.quarn"))
    try:
        db = quarn.Database(path, dim=DIM, metric=metric, quantize=quantize)
    except Exception as exc:  # noqa: BLE001 - any failure to reopen is a finding
        totals.failures.append(f"round {round_no}: reopen failed: {exc!r}")
        return None
    try:
        found = check_round(db, expected, pending, attempted, totals, f"round {round_no}")
    finally:
        close_db(db)
        del db
    return found


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--kills", type=int, default=500)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--dir", help="work directory (default: a temporary one, removed at the end)")
    parser.add_argument(
        "--sabotage", action="store_true", help="delete the log before each reopen: the checks must then fail"
    )
    parser.add_argument("--child", nargs=5, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        path, fd, seed, metric, quantize = args.child
        run_child(path, int(fd), int(seed), metric, quantize == "1")
        return 0

    work = args.dir or tempfile.mkdtemp(prefix="quarn-crash-")
    os.makedirs(work, exist_ok=True)
    totals = Totals()
    expected: dict = {}
    attempted: set = set()
    path = None
    started = time.monotonic()
    for round_no in range(args.kills):
        if round_no % ROUNDS_PER_DIRECTORY == 0:
            metric, quantize = SETTINGS[(round_no // ROUNDS_PER_DIRECTORY) % len(SETTINGS)]
            if path is not None:
                shutil.rmtree(path, ignore_errors=True)
            path = os.path.join(work, f"db{round_no // ROUNDS_PER_DIRECTORY}")
            shutil.rmtree(path, ignore_errors=True)
            expected, attempted = {}, set()
        found = run_round(args, round_no, path, metric, quantize, expected, attempted, totals)
        if found is None:
            break
        expected = found
        if (round_no + 1) % 50 == 0:
            print(
                f"{round_no + 1} kills, {totals.in_save} in save, {totals.in_compact} in compact, "
                f"{len(totals.failures)} failures, {time.monotonic() - started:.0f} s",
                flush=True,
            )
    if not args.dir:
        shutil.rmtree(work, ignore_errors=True)

    inside = totals.in_save + totals.in_compact
    print(
        f"kills: {totals.kills}; inside save: {totals.in_save}, inside compact: {totals.in_compact} "
        f"({100.0 * inside / max(1, totals.kills):.0f}%); inside another write: {totals.in_write}; "
        f"between calls: {totals.between_calls}; before the open finished: {totals.before_ready}"
    )
    partial = ", ".join(f"{op} {n}" for op, n in sorted(totals.partial_batches.items())) or "none"
    print(f"acknowledged calls checked: {totals.acknowledged}; batches found partly applied: {partial}")
    print(f"failures: {len(totals.failures)}")
    for failure in totals.failures:
        print("  " + failure)
    return 1 if totals.failures else 0


if __name__ == "__main__":
    sys.exit(main())
