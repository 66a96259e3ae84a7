"""tzcumfun against NumPy's closest equivalents, timed side by side on C- and Fortran-ordered data.

Run from the repository root after a release build:

    PYTHONPATH=build/release/python /usr/bin/python3 bench/numpy_compare.py [--repeat N]

Each case alternates one tzcumfun run and one NumPy run, several times over, and reports the
medians. NumPy scans on one thread; tzcumfun spreads large scans over every core oneTBB sees.
Axes are NumPy's (``axis=k``), whatever the order of the data.
"""

import argparse
import json
import os
import statistics
import time

import numpy as np

import tzcumfun as tz

ROWS, COLS = 2000, 5000
CUBE = (50, 200, 1000)


def flipped(scan, axis):
    """NumPy's reverse scan: flip, scan, flip back (the flips are views)."""
    return lambda a: np.flip(scan(np.flip(a, axis)), axis)


def values(dtype, shape, rng):
    if np.dtype(dtype).kind == "i":
        return rng.integers(-1000, 1000, size=shape, dtype=dtype)
    return rng.normal(size=shape).astype(dtype)


def sums(label, a, axes, loops=1):
    # NumPy widens int32 sums to int64 unless told otherwise; the host keeps int32.
    kwargs = {"dtype": a.dtype} if a.dtype == np.int32 else {}
    return [(f"{label} axis {axis}", a, lambda a, x=axis: tz.cumsum(a, axis=x),
             lambda a, x=axis, k=kwargs: np.cumsum(a, axis=x, **k), loops) for axis in axes]


def cases(rng):
    """(label, data, tzcumfun call, NumPy call, inner loop count)."""
    c_f8 = values("f8", (ROWS, COLS), rng)
    f_f8 = np.asfortranarray(c_f8)
    cube = values("f8", CUBE, rng)
    with_nan = f_f8.copy(order="F")
    with_nan[rng.random(with_nan.shape) < 0.01] = np.nan
    positive = np.asfortranarray(1.0 + rng.random((ROWS, COLS)) * 1e-3)
    rows = []
    rows += sums("cumsum C f8 2-D", c_f8, (0, 1))
    rows += sums("cumsum C f8 3-D", cube, (0, 1, 2))
    rows += sums("cumsum C f4 2-D", values("f4", (ROWS, COLS), rng), (1,))
    rows += sums("cumsum C i4 2-D", values("i4", (ROWS, COLS), rng), (1,))
    for length, loops in ((10, 2000), (100, 2000), (1000, 500), (10**5, 20)):
        rows += sums(f"cumsum f8 length {length}", values("f8", length, rng), (0,), loops)
    rows += sums("cumsum F f8 3-D", np.asfortranarray(cube), (0, 1, 2))
    rows += sums("cumsum F f8 2-D", f_f8, (0, 1))
    for dtype in ("f4", "i4"):
        rows += sums(f"cumsum F {dtype} 2-D", np.asfortranarray(values(dtype, (ROWS, COLS), rng)),
                     (0, 1))
    for axis in (0, 1):
        rows.append((f"cumsum F f8 2-D axis {axis} reverse", f_f8,
                     lambda a, x=axis: tz.cumsum(a, axis=x, reverse=True),
                     flipped(lambda a, x=axis: np.cumsum(a, axis=x), axis), 1))
        rows.append((f"cumprod F f8 2-D axis {axis}", positive,
                     lambda a, x=axis: tz.cumprod(a, axis=x),
                     lambda a, x=axis: np.cumprod(a, axis=x), 1))
        rows.append((f"cummax F f8 2-D axis {axis} (omitnan)", with_nan,
                     lambda a, x=axis: tz.cummax(a, axis=x),
                     lambda a, x=axis: np.fmax.accumulate(a, axis=x), 1))
        rows.append((f"cumsum F f8 2-D axis {axis} omitnan", with_nan,
                     lambda a, x=axis: tz.cumsum(a, axis=x, nan="omit"),
                     lambda a, x=axis: np.nancumsum(a, axis=x), 1))
    vector = values("f8", 10**7, rng)
    rows += sums("cumsum f8 length 10^7", vector, (0,))
    rows.append(("cumsum f8 length 10^7 reverse", vector, lambda a: tz.cumsum(a, "reverse"),
                 flipped(np.cumsum, 0), 1))
    rows.append(("cumsum F f8 1-by-10, host form", np.asfortranarray(values("f8", (1, 10), rng)),
                 lambda a: tz.cumsum(a, 2), lambda a: np.cumsum(a, axis=1), 2000))
    return rows


def timed(function, data, loops):
    start = time.perf_counter()
    for _ in range(loops):
        function(data)
    return (time.perf_counter() - start) / loops


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=7, help="timed pairs per case")
    parser.add_argument("--json", metavar="FILE", help="also write the medians to FILE as JSON")
    options = parser.parse_args()
    rng = np.random.default_rng(2024)
    print(f"tzcumfun vs NumPy {np.__version__}, {os.cpu_count()} CPUs, 2-D {ROWS}-by-{COLS}, "
          f"3-D {CUBE[0]}-by-{CUBE[1]}-by-{CUBE[2]}, median of {options.repeat} interleaved pairs")
    header = f"{'case':<38} {'tzcumfun':>12} {'NumPy':>12} {'NumPy/tz':>9}"
    print(header)
    print("-" * len(header))
    results = []
    for label, data, ours, theirs, loops in cases(rng):
        ours(data), theirs(data)  # first touch of result pages and caches
        pairs = [(timed(ours, data, loops), timed(theirs, data, loops))
                 for _ in range(options.repeat)]
        mine = statistics.median(pair[0] for pair in pairs)
        numpy_time = statistics.median(pair[1] for pair in pairs)
        unit, scale = ("us", 1e6) if loops > 1 else ("ms", 1e3)
        print(f"{label:<38} {mine * scale:>9.2f} {unit} {numpy_time * scale:>9.2f} {unit} "
              f"{numpy_time / mine:>8.2f}x")
        results.append({"case": label, "tzcumfun_seconds": mine, "numpy_seconds": numpy_time,
                        "numpy_over_tzcumfun": numpy_time / mine})
    if options.json:
        with open(options.json, "w", encoding="utf-8") as out:
            json.dump({"numpy": np.__version__, "cpus": os.cpu_count(), "repeat": options.repeat,
                       "cases": results}, out, indent=1)


if __name__ == "__main__":
    main()
