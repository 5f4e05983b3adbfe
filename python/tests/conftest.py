import os

import numpy as np
import pytest

import quarn

SMALL = os.environ.get("QUARN_TEST_SCALE") == "small"


def scaled(full, small):
    return small if SMALL else full


@pytest.fixture
def path(tmp_path):
    """A database directory that does not exist yet."""
    return str(tmp_path / "db")


@pytest.fixture
def db(path):
    return quarn.Database(path, dim=3)


@pytest.fixture
def rng():
    return np.random.default_rng(1234)


def clustered(rng, n, dim, clusters=16, spread=0.15):
    """float32 vectors gathered around random centres, like real embeddings."""
    centres = rng.normal(size=(clusters, dim))
    labels = rng.integers(0, clusters, size=n)
    points = centres[labels] + spread * rng.normal(size=(n, dim))
    return points.astype(np.float32), labels


def brute_force(data, query, metric):
    """Distances of every row of data to query, as the engine defines them."""
    data = data.astype(np.float64)
    query = np.asarray(query, dtype=np.float64)
    if metric == "cosine":
        norms = np.linalg.norm(data, axis=1) * np.linalg.norm(query)
        return 1.0 - (data @ query) / norms
    if metric == "euclidean":
        return ((data - query) ** 2).sum(axis=1)
    return -(data @ query)


def low_rank(rng, n, dim, latent=8):
    """float32 vectors of low intrinsic dimension, embedded in dim dimensions."""
    return (rng.normal(size=(n, latent)) @ rng.normal(size=(latent, dim))).astype(np.float32)


def pytest_configure(config):
    config.addinivalue_line("markers", "slow: builds or installs for minutes (deselect with -m 'not slow')")
