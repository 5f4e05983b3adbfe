"""The quarn command-line tool: inspect, check, search, import, export and back up a database directory.

Needs click (``pip install 'quarn[cli]'``); progress bars need tqdm.
"""

from __future__ import annotations

import json
import os
import sys
from typing import Any, Dict, Iterator, List, Literal, Optional, Tuple

import numpy as np

import quarn

try:
    import click
except ImportError:  # the library works without it; only the tool needs it
    click = None  # type: ignore[assignment]


def _bar(total: int, label: str, quiet: bool):
    """A tqdm bar on stderr, or a stand-in that does nothing when quiet or without tqdm."""
    if not quiet:
        try:
            from tqdm.auto import tqdm  # type: ignore[import-untyped, unused-ignore]

            return tqdm(total=total, desc=label, unit="rows", file=sys.stderr)
        except ImportError:
            pass

    class _Silent:
        def update(self, n: int) -> None:
            pass

        def close(self) -> None:
            pass

    return _Silent()


def _open(path: str, write: bool = False, **create: Any) -> quarn.Database:
    if not write and not create:
        return quarn.Database(path, read_only=True)
    return quarn.Database(path, **create)


def _directory_files(path: str) -> List[Tuple[str, int]]:
    entries = []
    for name in sorted(os.listdir(path)):
        full = os.path.join(path, name)
        if os.path.isfile(full):
            entries.append((name, os.path.getsize(full)))
    return entries


def _load_vectors(source: str) -> Tuple[np.ndarray, Optional[List[str]]]:
    """Vectors (and ids, when the file holds them) from a .npy or .npz file."""
    if source.endswith(".npz"):
        with np.load(source, allow_pickle=False) as data:
            if "vectors" not in data:
                raise ValueError(f"{source}: an .npz file must hold an array named 'vectors' (it has {sorted(data)})")
            vectors = data["vectors"]
            ids = [str(i) for i in data["ids"]] if "ids" in data else None
    else:
        vectors = np.load(source, allow_pickle=False)
        ids = None
    if vectors.ndim != 2:
        raise ValueError(f"{source}: vectors must be a two-dimensional array, got shape {vectors.shape}")
    if ids is not None and len(ids) != len(vectors):
        raise ValueError(f"{source}: {len(ids)} ids for {len(vectors)} vectors")
    return vectors, ids


def _load_records(source: str, rows: int) -> Tuple[List[Optional[str]], List[Optional[Dict[str, Any]]]]:
    """Ids and metadata from JSON lines: {"id": ..., "metadata": {...}} per row, in row order."""
    ids: List[Optional[str]] = []
    metadatas: List[Optional[Dict[str, Any]]] = []
    with open(source, encoding="utf-8") as lines:
        for number, line in enumerate(lines, start=1):
            if not line.strip():
                continue
            try:
                record = json.loads(line)
            except json.JSONDecodeError as err:
                raise ValueError(f"{source}:{number}: not valid JSON: {err.msg}") from None
            if not isinstance(record, dict):
                raise ValueError(f"{source}:{number}: expected a JSON object, got {type(record).__name__}")
            id_ = record.get("id")
            if id_ is not None and not isinstance(id_, str):
                raise ValueError(f"{source}:{number}: 'id' must be a string")
            metadata = record.get("metadata")
            if metadata is not None and not isinstance(metadata, dict):
                raise ValueError(f"{source}:{number}: 'metadata' must be an object or null")
            ids.append(id_)
            metadatas.append(metadata)
    if len(ids) != rows:
        raise ValueError(f"{source}: {len(ids)} records for {rows} vectors")
    return ids, metadatas


def _import(path: str, vectors_file: str, records_file: Optional[str], metric: Optional[str], upsert: bool,
            batch: int, quiet: bool) -> int:
    vectors, ids = _load_vectors(vectors_file)
    metadatas: Optional[List[Optional[Dict[str, Any]]]] = None
    if records_file is not None:
        record_ids, metadatas = _load_records(records_file, len(vectors))
        if ids is None and all(i is not None for i in record_ids):
            ids = [str(i) for i in record_ids]
    if ids is None:
        ids = [str(i) for i in range(len(vectors))]
    create: Dict[str, Any] = {"dim": int(vectors.shape[1])}
    if metric is not None:
        create["metric"] = metric
    with quarn.Database(path, **create) as db:
        write = db.upsert_many if upsert else db.add_many
        if not upsert:
            # Refuse the whole import before the first batch, as one add_many would.
            seen: Dict[str, int] = {}
            for row, id_ in enumerate(ids):
                if id_ in seen:
                    raise ValueError(f"id '{id_}' appears twice (rows {seen[id_]} and {row})")
                seen[id_] = row
                if id_ in db:
                    raise ValueError(f"id '{id_}' already exists; use --upsert to replace it")
        bar = _bar(len(ids), "import", quiet)
        try:
            for start in range(0, len(ids), batch):
                stop = min(len(ids), start + batch)
                part = None if metadatas is None else metadatas[start:stop]
                write(ids[start:stop], vectors[start:stop], part)
                bar.update(stop - start)
        finally:
            bar.close()
        return len(db)


def _export(path: str, out: str, records_file: Optional[str], batch: int, quiet: bool) -> int:
    db = _open(path)
    try:
        ids = db.ids()
        vectors = np.zeros((len(ids), db.dim), dtype=np.float32)
        metadatas: List[Optional[Dict[str, Any]]] = []
        bar = _bar(len(ids), "export", quiet)
        try:
            for start in range(0, len(ids), batch):
                part = ids[start:start + batch]
                block, meta = db.get_many(part)
                vectors[start:start + len(part)] = block
                metadatas.extend(meta)
                bar.update(len(part))
        finally:
            bar.close()
    finally:
        db.close()
    np.savez(out, ids=np.array(ids, dtype=str), vectors=vectors)
    if records_file is not None:
        with open(records_file, "w", encoding="utf-8") as lines:
            for id_, metadata in zip(ids, metadatas):
                lines.write(json.dumps({"id": id_, "metadata": metadata}, ensure_ascii=False) + "\n")
    return len(ids)


def _verify(path: str, batch: int, quiet: bool, unchecked: Optional[List[bool]] = None) -> List[str]:
    """Problems found: the open (snapshot, vectors and log are all read), every block of the
    snapshot files against their manifest, the engine's consistency check, and a read of every
    record. `unchecked` gets True appended when the directory has no manifest to check against."""
    try:
        db = _open(path)
    except (ValueError, OSError) as err:
        return [f"cannot open: {err}"]
    problems: List[str] = []
    try:
        files = db.verify_files()
        problems.extend(files["problems"])
        if unchecked is not None and not files["checked"]:
            unchecked.append(True)
        problems.extend(db.verify())
        ids = db.ids()
        if len(ids) != len(db):
            problems.append(f"{len(ids)} ids listed but {len(db)} records counted")
        bar = _bar(len(ids), "verify", quiet)
        try:
            for start in range(0, len(ids), batch):
                part = ids[start:start + batch]
                try:
                    vectors, _ = db.get_many(part)
                except ValueError as err:
                    problems.append(f"reading records: {err}")
                    break
                if vectors is not None and not np.isfinite(vectors).all():
                    row = int(np.argwhere(~np.isfinite(vectors))[0][0])
                    problems.append(f"record '{part[row]}' has a non-finite vector component")
                bar.update(len(part))
        finally:
            bar.close()
    finally:
        db.close()
    return problems


def _query_vector(db: quarn.Database, query_file: Optional[str], row: int, id_: Optional[str]) -> np.ndarray:
    if (query_file is None) == (id_ is None):
        raise ValueError("give exactly one of --query FILE.npy or --id ID")
    if id_ is not None:
        vector, _ = db.get(id_)
        return np.asarray(vector, dtype=np.float32)
    assert query_file is not None
    data = np.load(query_file, allow_pickle=False)
    if data.ndim == 1:
        return data
    if data.ndim != 2 or not 0 <= row < len(data):
        raise ValueError(f"{query_file}: no row {row} in an array of shape {data.shape}")
    return data[row]


if click is not None:

    def _fail(err: Exception) -> None:
        raise click.ClickException(str(err))

    def _json_option(value: Optional[str], hint: str):
        try:
            return json.loads(value) if value else None
        except json.JSONDecodeError as err:
            raise click.BadParameter(f"not valid JSON: {err.msg}", param_hint=hint) from None

    @click.group(context_settings={"help_option_names": ["-h", "--help"]})
    @click.version_option(quarn.__version__, prog_name="quarn")
    def cli() -> None:
        """Inspect, check, search, import, export and back up quarn database directories."""

    @cli.command()
    @click.argument("path", type=click.Path(exists=True, file_okay=False))
    @click.option("--json", "as_json", is_flag=True, help="Print one JSON object instead of text.")
    def info(path: str, as_json: bool) -> None:
        """Show a database's parameters, record count and files."""
        try:
            db = _open(path)
        except ValueError as err:
            _fail(err)
        try:
            facts: Dict[str, Any] = {"path": path, "dim": db.dim, "metric": db.metric, "count": len(db),
                     "deleted": db.deleted_count, "quantized_search": db.quantized_search,
                     "files": dict(_directory_files(path)), "quarn": quarn.__version__}
        finally:
            db.close()
        if as_json:
            click.echo(json.dumps(facts, indent=2))
            return
        for key in ("path", "dim", "metric", "count", "deleted", "quantized_search"):
            click.echo(f"{key:17} {facts[key]}")
        for name, size in facts["files"].items():
            click.echo(f"  {name:15} {size:>14,} bytes")

    @cli.command()
    @click.argument("path", type=click.Path(exists=True, file_okay=False))
    def stats(path: str) -> None:
        """Print the graph and memory figures of a database as JSON."""
        try:
            db = _open(path)
        except ValueError as err:
            _fail(err)
        try:
            click.echo(json.dumps(db.stats(), indent=2))
        finally:
            db.close()

    @cli.command()
    @click.argument("path", type=click.Path(exists=True, file_okay=False))
    @click.option("--quiet", "-q", is_flag=True, help="No progress bar.")
    def verify(path: str, quiet: bool) -> None:
        """Load every file of a database and check that its parts agree.

        Exit code 0 when the database is sound, 1 when a problem was found."""
        unchecked: List[bool] = []
        problems = _verify(path, 4096, quiet, unchecked)
        if problems:
            for problem in problems:
                click.echo(f"problem: {problem}", err=True)
            click.echo(f"{path}: FAILED ({len(problems)} problem{'s' if len(problems) > 1 else ''})")
            sys.exit(1)
        # Saved before snapshots carried a manifest: the files parse and agree, but there are no
        # checksums to tell a changed byte from a real value until the next save writes them.
        click.echo(f"{path}: OK (unchecked: no manifest of checksums)" if unchecked else f"{path}: OK")

    @cli.command()
    @click.argument("path", type=click.Path(exists=True, file_okay=False))
    @click.option("--query", "query_file", type=click.Path(exists=True, dir_okay=False),
                  help="A .npy file holding the query (a vector, or a matrix with --row).")
    @click.option("--row", default=0, show_default=True, help="Row of the --query matrix.")
    @click.option("--id", "id_", help="Use the vector of this stored record as the query.")
    @click.option("-k", default=10, show_default=True, help="Number of hits.")
    @click.option("--where", help='Metadata filter as JSON, e.g. \'{"color": "red"}\'.')
    @click.option("--ef", type=int, help="Beam width of a graph search.")
    @click.option("--text", help="Keyword query (BM25 over the documents); with a query vector, a hybrid search.")
    @click.option("--where-document", help='Document filter as JSON, e.g. \'{"$contains": "fox"}\'.')
    @click.option("--fusion", type=click.Choice(["rrf", "weighted"]), default="rrf", show_default=True,
                  help="How a hybrid search fuses its two rankings.")
    @click.option("--weight", type=float, default=0.5, show_default=True,
                  help="Share of the vector side in a weighted hybrid search.")
    @click.option("--json", "as_json", is_flag=True, help="Print JSON lines instead of a table.")
    def search(path: str, query_file: Optional[str], row: int, id_: Optional[str], k: int, where: Optional[str],
               ef: Optional[int], text: Optional[str], where_document: Optional[str],
               fusion: Literal["rrf", "weighted"], weight: float,
               as_json: bool) -> None:
        """Find the k nearest records to a query vector, the k best keyword matches of --text, or both
        fused into one ranking when --text comes with a query vector."""
        where_filter = _json_option(where, "--where")
        document_filter = _json_option(where_document, "--where-document")
        try:
            db = _open(path)
        except ValueError as err:
            _fail(err)
        try:
            if text is not None and query_file is None and id_ is None:
                hits = db.search_keyword(text, k=k, where_filter=where_filter, where_document=document_filter)
            else:
                query = _query_vector(db, query_file, row, id_)
                if text is None:
                    hits = db.search(query, k=k, ef_search=ef, where_filter=where_filter,
                                     where_document=document_filter)
                else:
                    hits = db.search_hybrid(query, text, k=k, ef_search=ef, where_filter=where_filter,
                                            where_document=document_filter, fusion=fusion, weight=weight)
        except (ValueError, TypeError) as err:
            _fail(err)
        finally:
            db.close()
        for hit in hits:
            if as_json:
                line = {"id": hit.id, "distance": hit.distance, "metadata": hit.metadata}
                if text is not None:
                    line["document"] = hit.document
                click.echo(json.dumps(line))
            else:
                meta = "" if hit.metadata is None else json.dumps(hit.metadata, ensure_ascii=False)
                document = f"  {hit.document!r}" if text is not None and hit.document is not None else ""
                click.echo(f"{hit.distance:12.6f}  {hit.id}  {meta}{document}")

    @cli.command("import", short_help="Add vectors from .npy/.npz and JSON-lines metadata.")
    @click.argument("path", type=click.Path(file_okay=False))
    @click.argument("vectors", type=click.Path(exists=True, dir_okay=False))
    @click.option("--records", type=click.Path(exists=True, dir_okay=False),
                  help='JSON lines, one per row: {"id": ..., "metadata": {...}}.')
    @click.option("--metric", type=click.Choice(["cosine", "euclidean", "l2", "dot_product", "dot"]),
                  help="Metric of a new database (default cosine).")
    @click.option("--upsert", is_flag=True, help="Replace records whose id exists instead of failing.")
    @click.option("--batch", default=10000, show_default=True, help="Rows per batch write.")
    @click.option("--quiet", "-q", is_flag=True, help="No progress bar.")
    def import_(path: str, vectors: str, records: Optional[str], metric: Optional[str], upsert: bool, batch: int,
                quiet: bool) -> None:
        """Add the vectors of a .npy or .npz file (arrays 'vectors' and optionally 'ids') to a
        database, created when missing. Ids come from the .npz, else from --records, else are the
        row numbers. The database is saved at the end."""
        try:
            count = _import(path, vectors, records, metric, upsert, batch, quiet)
        except (ValueError, TypeError, OSError) as err:
            _fail(err)
        click.echo(f"{path}: {count} records")

    @cli.command("export", short_help="Write every record to .npz and JSON-lines metadata.")
    @click.argument("path", type=click.Path(exists=True, file_okay=False))
    @click.argument("out", type=click.Path(dir_okay=False))
    @click.option("--records", type=click.Path(dir_okay=False),
                  help='Also write JSON lines {"id": ..., "metadata": {...}}, one per row.')
    @click.option("--batch", default=10000, show_default=True, help="Rows per read.")
    @click.option("--quiet", "-q", is_flag=True, help="No progress bar.")
    def export(path: str, out: str, records: Optional[str], batch: int, quiet: bool) -> None:
        """Write every record to an .npz file (arrays 'ids' and 'vectors') and, with --records,
        the metadata as JSON lines in the same order."""
        try:
            count = _export(path, out, records, batch, quiet)
        except (ValueError, OSError) as err:
            _fail(err)
        click.echo(f"{out}: {count} records")

    @cli.command(short_help="Copy a database, even one another process is writing, to a new directory.")
    @click.argument("path", type=click.Path(exists=True, file_okay=False))
    @click.argument("dest", type=click.Path(file_okay=False))
    def backup(path: str, dest: str) -> None:
        """Copy the database at PATH into DEST (a new or empty directory) as it stands now. A
        writer of PATH may go on meanwhile; the copy opens as PATH was at one moment."""
        try:
            db = _open(path)
        except ValueError as err:
            _fail(err)
        try:
            db.backup(dest)
        except ValueError as err:
            _fail(err)
        finally:
            db.close()
        click.echo(f"{path}: backed up to {dest}")

def main(argv: Optional[List[str]] = None) -> None:
    """Entry point of `quarn` and `python -m quarn`."""
    if click is None:
        sys.stderr.write("the quarn command needs click: pip install 'quarn[cli]'\n")
        sys.exit(2)
    cli.main(args=argv, prog_name="quarn")
