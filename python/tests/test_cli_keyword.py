"""search --text: keyword search from the command line, and hybrid search with a query vector."""
import json

import numpy as np
import pytest

pytest.importorskip("click")
from click.testing import CliRunner  # noqa: E402

import quarn  # noqa: E402
from quarn.cli import cli  # noqa: E402

DOCS = ["the red fox jumps", "a red car", "blue sky over the fox den", None]


@pytest.fixture
def db_path(tmp_path):
    path = str(tmp_path / "db")
    with quarn.Database(path, dim=3, metric="l2") as db:
        db.add_many(["a", "b", "c", "d"], np.eye(4, 3, dtype=np.float32), [{"n": i} for i in range(4)],
                    documents=DOCS)
    return path


def search(path, *args):
    result = CliRunner().invoke(cli, ["search", path, *map(str, args), "--json"])
    assert result.exit_code == 0, result.output
    return [json.loads(line) for line in result.output.splitlines()]


def test_text_alone_is_a_keyword_search_and_with_a_vector_a_hybrid_one(db_path):
    with quarn.Database(db_path, read_only=True) as db:
        keyword = [(h.id, h.distance, h.document) for h in db.search_keyword("red fox", k=3)]
        hybrid = [(h.id, h.distance) for h in db.search_hybrid([0, 1, 0], "fox", k=2, fusion="weighted", weight=0.2)]
        filtered = [h.id for h in db.search_keyword("fox", where_document={"$not_contains": "sky"})]
    assert [(h["id"], h["distance"], h["document"]) for h in search(db_path, "--text", "red fox", "-k", 3)] == keyword
    got = search(db_path, "--id", "b", "--text", "fox", "-k", 2, "--fusion", "weighted", "--weight", 0.2)
    assert [(h["id"], h["distance"]) for h in got] == hybrid
    got = search(db_path, "--text", "fox", "--where-document", '{"$not_contains": "sky"}')
    assert [h["id"] for h in got] == filtered == ["a"]


@pytest.mark.parametrize("args, message", [
    (["--text", "fox", "--where-document", "{bad"], "not valid JSON"),
    (["--text", "fox", "--where-document", '{"$has": "x"}'], "unknown operator '$has'"),
    (["--text", "fox", "--fusion", "max", "--id", "a"], "'max' is not one of"),
])
def test_text_search_errors_exit_non_zero_with_a_message(db_path, args, message):
    result = CliRunner().invoke(cli, ["search", db_path, *args])
    assert result.exit_code != 0 and message in result.output
