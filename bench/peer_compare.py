"""tzcumfun against NumPy, PyTorch, pandas and a numba loop, each plain and with a reused out=.

Run from the repository root after a release build (./dev bench does, after installing the
peers it finds missing):

    PYTHONPATH=build/release/python /usr/bin/python3 bench/peer_compare.py [--repeat N]

Every case times every entrant once per round, the entrants in turn, for several rounds in one
process, and reports medians. "plain" makes a fresh result per call; "out" writes into an array
made once before timing. PyTorch works on the NumPy data through torch.from_numpy (no copy) on
the CPU; pandas has no out= and scans 2-D data and vectors only; the numba loop is what a careful
user writes: parallel over independent vectors, sequential along each, so its bits are ours too.
An entrant that cannot take a case (or a keyword it lacks, such as out= on a tzcumfun without it)
is recorded as missing. Data is C-ordered; axes are NumPy's; tzcumfun's out= is C-ordered too,
the order its result takes.
"""

import argparse
import json
import os
import statistics
import time

import numpy as np

import tzcumfun as tz

try:
    import torch
except ImportError:
    torch = None
try:
    import pandas as pd
except ImportError:
    pd = None
try:
    import numba
except ImportError:
    numba = None

ROWS, COLS = 2000, 5000
CUBE = (50, 200, 1000)
ENTRANTS = ("tzcumfun", "numpy", "torch", "pandas", "numba")
MODES = ("plain", "out")


def numba_scans():
    """One jitted scan per operation, over a C-ordered array viewed as (outer, n, inner) and
    scanned along n: one chain per vector when vectors are contiguous, else a block of adjacent
    vectors stepped together so that the inner loop vectorises."""
    block = 256

    def make(combine):
        @numba.njit(parallel=True)
        def scan(a, out):
            outer, n, inner = a.shape
            if inner == 1:
                for o in numba.prange(outer):
                    acc = a[o, 0, 0]
                    out[o, 0, 0] = acc
                    for k in range(1, n):
                        acc = combine(acc, a[o, k, 0])
                        out[o, k, 0] = acc
                return
            blocks = (inner + block - 1) // block
            for task in numba.prange(outer * blocks):
                o = task // blocks
                lo = (task % blocks) * block
                hi = min(inner, lo + block)
                for j in range(lo, hi):
                    out[o, 0, j] = a[o, 0, j]
                for k in range(1, n):
                    for j in range(lo, hi):
                        out[o, k, j] = combine(out[o, k - 1, j], a[o, k, j])

        return scan

    add = numba.njit(inline="always")(lambda x, y: x + y)
    mul = numba.njit(inline="always")(lambda x, y: x * y)
    # NaN is skipped, as by cummax's default and NumPy's fmax.
    fmax = numba.njit(inline="always")(lambda x, y: x if y != y or x >= y else y)
    return {"cumsum": make(add), "cumprod": make(mul), "cummax": make(fmax)}


def as3d(a, axis):
    """A C-ordered array as (outer, n, inner) along `axis`, a view."""
    shape = a.shape
    return a.reshape(int(np.prod(shape[:axis])), shape[axis], int(np.prod(shape[axis + 1:])))


def entrants(op, axis, dtype, scans):
    """For each entrant, its (plain, out) callables of (a, out); None where it has none."""
    keep = {"dtype": dtype} if dtype == np.int32 else {}  # NumPy and PyTorch widen int32 sums
    numpy_ufunc = {"cumprod": np.multiply, "cummax": np.fmax}.get(op)
    table = {}

    def tz_plain(a, _):
        return getattr(tz, op)(a, axis=axis)

    def tz_out(a, o):
        return getattr(tz, op)(a, axis=axis, out=o)

    table["tzcumfun"] = (tz_plain, tz_out)
    if op == "cumsum":
        table["numpy"] = (lambda a, _: np.cumsum(a, axis=axis, **keep),
                          lambda a, o: np.cumsum(a, axis=axis, out=o, **keep))
    else:
        table["numpy"] = (lambda a, _: numpy_ufunc.accumulate(a, axis=axis),
                          lambda a, o: numpy_ufunc.accumulate(a, axis=axis, out=o))
    if torch is not None:
        tkeep = {"dtype": torch.int32} if dtype == np.int32 else {}
        if op == "cummax":
            # PyTorch's cummax also returns the indices; out= takes both.
            table["torch"] = (
                lambda a, _: torch.cummax(torch.from_numpy(a), axis)[0],
                lambda a, o: torch.cummax(torch.from_numpy(a), axis, out=o))
        else:
            function = getattr(torch, op)
            table["torch"] = (lambda a, _: function(torch.from_numpy(a), axis, **tkeep),
                              lambda a, o: function(torch.from_numpy(a), axis, out=o, **tkeep))
    if pd is not None:
        table["pandas"] = (lambda frame, _: getattr(frame, op)(axis=axis), None)
    if scans is not None:
        scan = scans[op]
        table["numba"] = (lambda a, _: scan(as3d(a, axis), np.empty(as3d(a, axis).shape, a.dtype)),
                          lambda a, o: scan(as3d(a, axis), as3d(o, axis)))
    return table


def values(dtype, shape, rng, op):
    if np.dtype(dtype).kind == "i":
        return rng.integers(-1000, 1000, size=shape, dtype=dtype)
    if op == "cumprod":  # products stay normal along thousands of elements
        return (1.0 + rng.random(shape) * 1e-3).astype(dtype)
    return rng.normal(size=shape).astype(dtype)


def cases(rng):
    """(label, operation, data, axis, calls per timing)."""
    c_f8 = values("f8", (ROWS, COLS), rng, "cumsum")
    cube = values("f8", CUBE, rng, "cumsum")
    rows = [(f"cumsum f64 {ROWS}x{COLS} axis={axis}", "cumsum", c_f8, axis, 1) for axis in (1, 0)]
    rows += [(f"cumsum f32 {ROWS}x{COLS} axis=1", "cumsum",
              values("f4", (ROWS, COLS), rng, "cumsum"), 1, 1),
             (f"cumsum i32 {ROWS}x{COLS} axis=1", "cumsum",
              values("i4", (ROWS, COLS), rng, "cumsum"), 1, 1),
             (f"cumprod f64 {ROWS}x{COLS} axis=1", "cumprod",
              values("f8", (ROWS, COLS), rng, "cumprod"), 1, 1),
             (f"cummax f64 {ROWS}x{COLS} axis=0", "cummax", c_f8, 0, 1)]
    rows += [(f"cumsum f64 {'x'.join(map(str, CUBE))} axis={axis}", "cumsum", cube, axis, 1)
             for axis in (0, 1, 2)]
    rows.append(("cumsum f64 one 10^7 vector", "cumsum", values("f8", 10**7, rng, "cumsum"), 0, 1))
    for length, loops in ((10, 2000), (1000, 500)):
        rows.append((f"cumsum f64 length {length}", "cumsum",
                     values("f8", length, rng, "cumsum"), 0, loops))
    return rows


def prepared(name, mode, data, op):
    """The argument an entrant is timed on (None: it cannot take the data), and its out=."""
    if name == "pandas":
        frame = pd.Series(data) if data.ndim == 1 else pd.DataFrame(data) if data.ndim == 2 else None
        return frame, None
    if mode == "plain":
        return data, None
    out = np.empty(data.shape, data.dtype)
    if name == "torch":
        out = torch.from_numpy(out)
        if op == "cummax":  # PyTorch's cummax writes the indices too
            out = (out, torch.empty(data.shape, dtype=torch.int64))
    return data, out


def timed(function, data, out, loops):
    # The previous entrant's worker threads spin for a while after its call (OpenMP's do for
    # milliseconds); on a small machine they would take cores from this one, so let them settle.
    # Longer pauses are no fairer: after 20 ms or more of idleness a parallel call on two cores
    # often starts before the second worker is awake, and would be timed in that state.
    time.sleep(0.003)
    start = time.perf_counter()
    for _ in range(loops):
        function(data, out)
    return (time.perf_counter() - start) / loops


def run_case(label, op, data, axis, loops, scans, repeat):
    table = entrants(op, axis, data.dtype.type, scans)
    runs = {}
    for name, functions in table.items():
        for mode, function in zip(MODES, functions):
            if function is None:
                continue
            argument, out = prepared(name, mode, data, op)
            if argument is None:
                continue
            try:
                function(argument, out)  # compiles, warms caches and maps the out= pages
            except TypeError:
                continue  # a keyword this entrant lacks
            runs[(name, mode)] = (function, argument, out)
    times = {key: [] for key in runs}
    order = list(runs)
    for round_ in range(repeat):
        # A rotating order, so that no entrant always follows the same one.
        shift = round_ % len(order) if order else 0
        for key in order[shift:] + order[:shift]:
            function, argument, out = runs[key]
            times[key].append(timed(function, argument, out, loops))
    return {f"{name}/{mode}": statistics.median(times[(name, mode)]) if (name, mode) in times
            else None for name in ENTRANTS for mode in MODES}


def fastest_peer(medians, mode):
    peers = [(t, key.split("/")[0]) for key, t in medians.items()
             if t is not None and key.endswith("/" + mode) and not key.startswith("tzcumfun/")]
    return min(peers) if peers else (None, None)


def show(seconds, loops):
    if seconds is None:
        return "-"
    return f"{seconds * 1e6:.2f} us" if loops > 1 else f"{seconds * 1e3:.2f} ms"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=7, help="timed rounds per case")
    parser.add_argument("--json", metavar="FILE", default="build/bench/peer_compare.json",
                        help="where the medians go as JSON")
    options = parser.parse_args()
    rng = np.random.default_rng(2026)
    scans = numba_scans() if numba is not None else None
    versions = {"numpy": np.__version__, "torch": getattr(torch, "__version__", None),
                "pandas": getattr(pd, "__version__", None),
                "numba": getattr(numba, "__version__", None)}
    load_before = os.getloadavg()
    print(f"tzcumfun vs peers {versions}, {os.cpu_count()} CPUs, load {load_before[0]:.2f}, "
          f"median of {options.repeat} interleaved rounds")
    header = (f"{'case':<34} {'tz plain':>10} {'tz out':>10} {'best plain peer':>22} "
              f"{'ahead':>6} {'best out peer':>22} {'ahead':>6}")
    print(header)
    print("-" * len(header))
    results = []
    for label, op, data, axis, loops in cases(rng):
        medians = run_case(label, op, data, axis, loops, scans, options.repeat)
        row = {"case": label, "loops": loops, "seconds": medians}
        line = f"{label:<34} {show(medians['tzcumfun/plain'], loops):>10} " \
               f"{show(medians['tzcumfun/out'], loops):>10}"
        for mode in MODES:
            peer_time, peer = fastest_peer(medians, mode)
            ours = medians[f"tzcumfun/{mode}"]
            ahead = peer_time / ours if peer_time and ours else None
            row[f"fastest_{mode}_peer"] = peer
            row[f"ahead_of_fastest_{mode}_peer"] = ahead
            line += f" {(peer or '-') + ' ' + show(peer_time, loops):>22} " \
                    f"{(f'{ahead:.2f}x' if ahead else '-'):>6}"
        print(line)
        results.append(row)
    load_after = os.getloadavg()
    print(f"load average after: {load_after[0]:.2f}")
    os.makedirs(os.path.dirname(options.json) or ".", exist_ok=True)
    with open(options.json, "w", encoding="utf-8") as out:
        json.dump({"versions": versions, "cpus": os.cpu_count(), "repeat": options.repeat,
                   "load_before": load_before, "load_after": load_after, "cases": results},
                  out, indent=1)


if __name__ == "__main__":
    main()
