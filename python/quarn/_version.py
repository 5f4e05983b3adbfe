"""The version of the installed distribution, as pyproject.toml gives it."""

from importlib.metadata import PackageNotFoundError, version

try:
    __version__: str = version("quarn")
except PackageNotFoundError:  # imported from a source tree that was never installed
    __version__ = "0+unknown"
