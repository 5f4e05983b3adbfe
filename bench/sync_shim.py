"""Time spent in fsync: a shim preloaded into a benchmark process that passes fsync and
fdatasync through and adds up their time.

quarn syncs every file it saves; hnswlib, faiss and usearch do not. To compare the work of
saving, quarn's processes run with this shim in LD_PRELOAD.
"""

from __future__ import annotations

import os
import shutil
import subprocess

SYNC_SHIM = r"""
#define _GNU_SOURCE
#include <dlfcn.h>
#include <time.h>
static long long total_ns;
static long long now_ns(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}
#define TIMED(name)                                                      \
  int name(int fd) {                                                     \
    static int (*real)(int);                                             \
    if (!real) real = (int (*)(int))dlsym(RTLD_NEXT, #name);             \
    long long start = now_ns();                                          \
    int rc = real(fd);                                                   \
    __atomic_add_fetch(&total_ns, now_ns() - start, __ATOMIC_RELAXED);  \
    return rc;                                                           \
  }
TIMED(fsync)
TIMED(fdatasync)
double quarn_bench_sync_seconds(void) { return __atomic_load_n(&total_ns, __ATOMIC_RELAXED) * 1e-9; }
"""


def build_sync_shim(work):
    """Compiles the shim into `work`; None when there is no C compiler."""
    source, lib = os.path.join(work, "sync_shim.c"), os.path.join(work, "sync_shim.so")
    with open(source, "w") as f:
        f.write(SYNC_SHIM)
    cc = shutil.which("cc") or shutil.which("gcc")
    if cc is None or subprocess.run([cc, "-O2", "-shared", "-fPIC", "-o", lib, source, "-ldl"]).returncode != 0:
        return None
    return lib


def sync_seconds():
    """Seconds this process has spent in fsync/fdatasync, or None without the preloaded shim."""
    import ctypes

    shim = next((p for p in os.environ.get("LD_PRELOAD", "").split(":") if p.endswith("sync_shim.so")), None)
    if shim is None:
        return None
    fn = ctypes.CDLL(shim).quarn_bench_sync_seconds
    fn.restype = ctypes.c_double
    return fn()


# ------------------------------------------------------------------ engines (one per process)
