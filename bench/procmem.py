"""Resident memory of this process (Linux /proc): now, and the peak since a reset."""

from __future__ import annotations

import resource


def _status_kib(field: str):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return None


def rss_bytes() -> int:
    return _status_kib("VmRSS") * 1024


def reset_peak_rss() -> None:
    """Start a new peak (VmHWM) at the current resident size, where the kernel allows it (Linux >= 4.0)."""
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
    except OSError:
        pass


def peak_rss_bytes() -> int:
    # VmHWM belongs to this program's own address space; ru_maxrss would also carry the
    # peak of the parent process, inherited across fork and exec.
    hwm = _status_kib("VmHWM")
    return hwm * 1024 if hwm is not None else resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
