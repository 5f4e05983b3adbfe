"""Progress reports for long batch writes: a tqdm bar when tqdm is installed, or a callback."""

from __future__ import annotations

from typing import Callable, Optional, Union

ProgressCallback = Callable[[int, int], None]
Progress = Union[bool, ProgressCallback, None]


class Reporter:
    """Reports rows written so far to a callback (done, total) and/or a tqdm bar."""

    def __init__(self, progress: Progress, total: int, description: str) -> None:
        self._callback: Optional[ProgressCallback] = None
        self._bar = None
        self._total = total
        self._done = 0
        if callable(progress):
            self._callback = progress
        elif progress:
            try:
                from tqdm.auto import tqdm  # type: ignore[import-untyped, unused-ignore]
            except ImportError:  # no bar without tqdm; the write itself goes on
                tqdm = None
            if tqdm is not None:
                self._bar = tqdm(total=total, desc=description, unit="rows")

    def advance(self, rows: int) -> None:
        self._done += rows
        if self._bar is not None:
            self._bar.update(rows)
        if self._callback is not None:
            self._callback(self._done, self._total)

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()

    def __enter__(self) -> "Reporter":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()
