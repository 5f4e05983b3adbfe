"""Progress reports for long batch writes: a tqdm bar when tqdm is installed, or a callback."""

from __future__ import annotations

from typing import Any, Callable, Optional, Union

ProgressCallback = Callable[[int, int], object]
Progress = Union[bool, ProgressCallback, None]


class Reporter:
    """Turns the progress argument of a batch write into the callable the engine calls with
    (rows_done, rows_total): the user's callable itself, or one that moves a tqdm bar."""

    def __init__(self, progress: Progress, total: Optional[int], description: str) -> None:
        self.callback: Optional[ProgressCallback] = None
        self._bar: Any = None
        self._done = 0
        if callable(progress):
            self.callback = progress
        elif progress:
            try:
                from tqdm.auto import tqdm  # type: ignore[import-untyped, unused-ignore]
            except ImportError:  # no bar without tqdm; the write itself goes on
                return
            self._bar = tqdm(total=total, desc=description, unit="rows")
            self.callback = self._advance

    def _advance(self, done: int, total: int) -> None:
        if self._bar.total != total:
            self._bar.total = total
        self._bar.update(done - self._done)
        self._done = done

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()

    def __enter__(self) -> "Reporter":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()
