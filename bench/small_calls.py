"""Per-call cost of small tzcumfun calls, where the call's own work outweighs the scan, beside the
same call to NumPy, PyTorch and a numba loop, and the heap allocations each call makes.

    PYTHONPATH=build/release/python /usr/bin/python3 bench/small_calls.py [--rounds N]

Times float64 vectors of 10, 100 and 1000 elements in three forms: the host's form
(``cumsum(v)``, ``cumsum(v, 2)``), the keyword form (``cumsum(v, axis=0)``) and ``out=`` into an
array made once. Every entrant is timed once per round, in turn, in one process, and the medians
are reported in microseconds per call, with tzcumfun's ratio to the fastest peer in the same form
(plain against plain, out= against out=; above 1 is faster). The peers that are not installed are
left out (./dev bench installs them).

Allocations are counted by a malloc-counting library the script compiles with cc and preloads into
a child interpreter: the calls of each form are made 1000 times and the count is divided. Python
objects of up to 512 bytes come from the interpreter's own pools, not malloc, for every entrant.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

import tzcumfun as tz

try:
    import torch
except ImportError:
    torch = None
try:
    import numba
except ImportError:
    numba = None

LENGTHS = (10, 100, 1000)
CALLS = 2000

SHIM = r"""
#include <stddef.h>
extern void* __libc_malloc(size_t);
extern void* __libc_calloc(size_t, size_t);
extern void* __libc_realloc(void*, size_t);
extern void* __libc_memalign(size_t, size_t);
static long allocations;
void* malloc(size_t n) { __atomic_add_fetch(&allocations, 1, __ATOMIC_RELAXED); return __libc_malloc(n); }
void* calloc(size_t n, size_t m) { __atomic_add_fetch(&allocations, 1, __ATOMIC_RELAXED); return __libc_calloc(n, m); }
void* realloc(void* p, size_t n) { __atomic_add_fetch(&allocations, 1, __ATOMIC_RELAXED); return __libc_realloc(p, n); }
int posix_memalign(void** p, size_t a, size_t n) {
    __atomic_add_fetch(&allocations, 1, __ATOMIC_RELAXED);
    *p = __libc_memalign(a, n);
    return *p ? 0 : 12;
}
void* aligned_alloc(size_t a, size_t n) { __atomic_add_fetch(&allocations, 1, __ATOMIC_RELAXED); return __libc_memalign(a, n); }
long tz_allocations(void) { return __atomic_load_n(&allocations, __ATOMIC_RELAXED); }
"""


def numba_loop():
    if numba is None:
        return None

    @numba.njit
    def scan(a, out):
        acc = a[0]
        out[0] = acc
        for i in range(1, a.shape[0]):
            acc += a[i]
            out[i] = acc
        return out

    return scan


def cases(length):
    """{form: {entrant: call}} for a vector of `length` float64 values."""
    v = np.random.default_rng(1).normal(size=length)
    out = np.empty_like(v)
    row = v.reshape(1, length)
    table = {
        "host": {"tzcumfun": lambda: tz.cumsum(v), "tzcumfun dim": lambda: tz.cumsum(row, 2),
                 "numpy": lambda: np.cumsum(v)},
        "keyword": {"tzcumfun": lambda: tz.cumsum(v, axis=0),
                    "numpy": lambda: np.cumsum(v, axis=0)},
        "out": {"tzcumfun": lambda: tz.cumsum(v, axis=0, out=out),
                "numpy": lambda: np.cumsum(v, axis=0, out=out)},
    }
    if torch is not None:
        table["host"]["torch"] = table["keyword"]["torch"] = \
            lambda: torch.cumsum(torch.from_numpy(v), 0)
        tout = torch.from_numpy(out)
        table["out"]["torch"] = lambda: torch.cumsum(torch.from_numpy(v), 0, out=tout)
    scan = numba_loop()
    if scan is not None:
        scan(v, out)
        table["host"]["numba"] = table["keyword"]["numba"] = lambda: scan(v, np.empty_like(v))
        table["out"]["numba"] = lambda: scan(v, out)
    return table


def timed(call):
    start = time.perf_counter()
    for _ in range(CALLS):
        call()
    return (time.perf_counter() - start) / CALLS * 1e6


def timings(rounds):
    result = {}
    for length in LENGTHS:
        for form, entrants in cases(length).items():
            samples = {name: [] for name in entrants}
            for _ in range(rounds):
                for name, call in entrants.items():
                    samples[name].append(timed(call))
            medians = {name: statistics.median(times) for name, times in samples.items()}
            peers = [medians[name] for name in ("numpy", "torch", "numba") if name in medians]
            medians["ratio to fastest peer"] = min(peers) / medians["tzcumfun"]
            result[f"{form} {length}"] = medians
    return result


def allocations():
    """Heap allocations per call of each tzcumfun form and of np.cumsum at 10 elements, counted in
    this script run again in a child with the counting library preloaded."""
    with tempfile.TemporaryDirectory() as directory:
        source, library = os.path.join(directory, "shim.c"), os.path.join(directory, "shim.so")
        with open(source, "w") as file:
            file.write(SHIM)
        subprocess.run(["cc", "-O2", "-shared", "-fPIC", "-o", library, source], check=True)
        env = dict(os.environ, LD_PRELOAD=library)
        child = subprocess.run([sys.executable, __file__, "--count"], env=env, check=True,
                               capture_output=True, text=True)
        return json.loads(child.stdout)


def count():
    import ctypes

    counter = ctypes.CDLL(None).tz_allocations
    counter.restype = ctypes.c_long
    result = {}
    for form, entrants in cases(10).items():
        for name, call in entrants.items():
            if name not in ("tzcumfun", "tzcumfun dim", "numpy"):
                continue
            for _ in range(100):
                call()
            before = counter()
            for _ in range(1000):
                call()
            result[f"{form} {name}"] = (counter() - before) / 1000
    print(json.dumps(result))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--count", action="store_true", help=argparse.SUPPRESS)
    options = parser.parse_args()
    if options.count:
        return count()
    print(json.dumps({"microseconds per call": timings(options.rounds),
                      "heap allocations per call, 10 elements": allocations()}, indent=1))


if __name__ == "__main__":
    main()
