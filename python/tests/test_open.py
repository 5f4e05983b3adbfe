"""Construction: create-or-open with dim, open-only without, and the constructor's argument rules."""
import os
import pathlib

import numpy as np
import pytest

import quarn

NOT_FOUND = "database not found — specify dim to create a new one"
BAD_METRIC = "metric must be 'cosine', 'euclidean'/'l2', or 'dot'/'dot_product'"


def test_open_only_of_missing_or_empty_directory_fails_without_creating_it(tmp_path):
    missing = tmp_path / "a" / "b"
    with pytest.raises(ValueError) as err:
        quarn.Database(str(missing))
    assert str(err.value) == NOT_FOUND
    assert not missing.exists()

    empty = tmp_path / "empty"
    empty.mkdir()
    with pytest.raises(ValueError, match=NOT_FOUND):
        quarn.Database(str(empty), metric="not checked without dim")


def test_dim_by_position_creates_directory_with_parents_and_defaults(tmp_path):
    where = tmp_path / "x" / "y" / "db"
    db = quarn.Database(str(where), 3)
    assert where.is_dir()
    assert (db.dim, db.metric, len(db), db.total_slots, db.deleted_count) == (3, "cosine", 0, 0, 0)
    assert db.quantized_search is False
    # The parameters are on the disk from the creation on, beside the writer's lock file.
    assert sorted(os.listdir(where)) == ["graph.quarn", "manifest.quarn", "vectors.bin", "writer.lock"]


@pytest.mark.parametrize(
    "given, canonical",
    [("cosine", "cosine"), ("euclidean", "euclidean"), ("l2", "euclidean"), ("dot", "dot_product"),
     ("dot_product", "dot_product")],
)
def test_metric_names_are_accepted_and_reported_canonically(path, given, canonical):
    assert quarn.Database(path, dim=2, metric=given).metric == canonical


@pytest.mark.parametrize("name", ["Cosine", " cosine", "cosine ", "L2", "manhattan", ""])
def test_metric_outside_the_table_fails_even_for_an_existing_database(path, name):
    with quarn.Database(path, dim=2):
        pass
    with pytest.raises(ValueError) as err:
        quarn.Database(path, dim=2, metric=name)
    assert str(err.value) == BAD_METRIC


def test_stored_parameters_win_over_the_arguments_on_reopen(path):
    with quarn.Database(path, dim=4, metric="l2") as db:
        db.add("a", [1, 2, 3, 4])
    again = quarn.Database(path, dim=8, metric="dot")
    assert (again.dim, again.metric, len(again)) == (4, "euclidean", 1)
    again.close()
    only = quarn.Database(path)
    assert (only.dim, only.metric, only.get("a")[0]) == (4, "euclidean", [1.0, 2.0, 3.0, 4.0])


def test_open_only_reports_damage_as_not_found_while_create_mode_reports_the_error(path):
    with quarn.Database(path, dim=2) as db:
        db.add("a", [1, 0])
    with open(os.path.join(path, "graph.quarn"), "r+b") as f:
        f.truncate(10)
    with pytest.raises(ValueError) as err:
        quarn.Database(path)
    assert str(err.value) == NOT_FOUND
    with pytest.raises(ValueError) as err:
        quarn.Database(path, dim=2)
    assert str(err.value) == "io error: " + os.path.join(path, "graph.quarn") + ": failed to fill whole buffer"


def test_constructor_argument_types(path):
    with pytest.raises(TypeError, match=r"^argument 'path': expected str or os.PathLike, not 'int'$"):
        quarn.Database(3, dim=3)
    with pytest.raises(TypeError, match=r"^argument 'quantize': "):
        quarn.Database(path, dim=3, quantize=1)
    with pytest.raises(TypeError, match=r"^argument 'dim': "):
        quarn.Database(path, dim=3.0)
    with pytest.raises(TypeError, match=r"^argument 'metric': "):
        quarn.Database(path, dim=3, metric=2)
    for name in ("dim", "m", "ef_construction"):
        with pytest.raises(OverflowError):
            quarn.Database(path, **{"dim": 3, name: -1})
    assert not os.path.exists(path)
    assert quarn.Database(path, dim=3, quantize=np.bool_(True)).dim == 3


def test_constructor_arity_errors_name_the_function(path):
    with pytest.raises(TypeError, match="Database"):
        quarn.Database()
    with pytest.raises(TypeError, match="colour"):
        quarn.Database(path, dim=3, colour="red")
    with pytest.raises(TypeError, match="Database"):
        quarn.Database(path, 3, None, None, None, False, False, "extra")
    with pytest.raises(TypeError, match="dim"):
        quarn.Database(path, 3, dim=3)


def test_every_parameter_by_keyword(path):
    db = quarn.Database(path=path, dim=5, metric="l2", m=8, ef_construction=40, quantize=False)
    db.add("a", [0, 1, 2, 3, 4])
    assert (db.dim, db.metric, len(db)) == (5, "euclidean", 1)


@pytest.mark.parametrize("given, expected", [
    ({}, (16, 200)),
    ({"m": 8}, (8, 200)),
    ({"m": 24, "ef_construction": 64}, (24, 64)),
])
def test_the_graph_parameters_read_back_are_the_stored_ones_not_the_reopen_arguments(tmp_path, given, expected):
    path = str(tmp_path / "db")
    db = quarn.Database(path, dim=3, **given)
    assert (db.m, db.ef_construction) == expected
    db.close()
    # Arguments given at a reopen lose to what the database was created with.
    db = quarn.Database(path, dim=3, m=40, ef_construction=400)
    assert (db.m, db.ef_construction) == expected
    db.close()
