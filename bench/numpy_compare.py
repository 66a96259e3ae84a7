"""tzcumfun against NumPy's closest equivalents, timed side by side on column-major data.

Run from the repository root after a release build:

    PYTHONPATH=build/release/python /usr/bin/python3 bench/numpy_compare.py [--repeat N]

Each case alternates one tzcumfun run and one NumPy run, several times over, and reports the
medians. NumPy scans on one thread; tzcumfun spreads large scans over every core oneTBB sees.
"""

import argparse
import json
import os
import statistics
import time

import numpy as np

import tzcumfun as tz

ROWS, COLS = 2000, 5000


def flipped(scan, axis):
    """NumPy's reverse scan: flip, scan, flip back (the flips are views)."""
    return lambda a: np.flip(scan(np.flip(a, axis)), axis)


def matrix(dtype, rng):
    if np.dtype(dtype).kind == "i":
        return np.asfortranarray(rng.integers(-1000, 1000, size=(ROWS, COLS), dtype=dtype))
    return np.asfortranarray(rng.normal(size=(ROWS, COLS)).astype(dtype))


def cases(rng):
    """(label, data, tzcumfun call, NumPy call, inner loop count)."""
    data = {dtype: matrix(dtype, rng) for dtype in ("f8", "f4", "i4")}
    with_nan = data["f8"].copy(order="F")
    with_nan[rng.random(with_nan.shape) < 0.01] = np.nan
    positive = np.asfortranarray(1.0 + rng.random((ROWS, COLS)) * 1e-3)
    vector = rng.normal(size=10**7)
    tiny = np.asfortranarray(rng.normal(size=(1, 10)))
    rows = []
    for dtype, a in data.items():
        # NumPy widens int32 sums to int64 unless told otherwise; the host keeps int32.
        kwargs = {"dtype": a.dtype} if dtype == "i4" else {}
        for axis in (0, 1):
            rows.append((f"cumsum {dtype} dim {axis + 1}", a, lambda a, d=axis + 1: tz.cumsum(a, d),
                         lambda a, x=axis, k=kwargs: np.cumsum(a, axis=x, **k), 1))
    for axis in (0, 1):
        rows.append((f"cumsum f8 dim {axis + 1} reverse", data["f8"],
                     lambda a, d=axis + 1: tz.cumsum(a, d, "reverse"),
                     flipped(lambda a, x=axis: np.cumsum(a, axis=x), axis), 1))
        rows.append((f"cumprod f8 dim {axis + 1}", positive, lambda a, d=axis + 1: tz.cumprod(a, d),
                     lambda a, x=axis: np.cumprod(a, axis=x), 1))
        rows.append((f"cummax f8 dim {axis + 1} (omitnan)", with_nan,
                     lambda a, d=axis + 1: tz.cummax(a, d),
                     lambda a, x=axis: np.fmax.accumulate(a, axis=x), 1))
        rows.append((f"cumsum f8 dim {axis + 1} omitnan", with_nan,
                     lambda a, d=axis + 1: tz.cumsum(a, d, "omitnan"),
                     lambda a, x=axis: np.nancumsum(a, axis=x), 1))
    rows.append(("cumsum f8 10^7 vector", vector, tz.cumsum, np.cumsum, 1))
    rows.append(("cumsum f8 10^7 vector reverse", vector, lambda a: tz.cumsum(a, "reverse"),
                 flipped(np.cumsum, 0), 1))
    rows.append(("cumsum f8 1-by-10 (per call)", tiny, lambda a: tz.cumsum(a, 2),
                 lambda a: np.cumsum(a, axis=1), 2000))
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
    print(f"tzcumfun vs NumPy {np.__version__}, {os.cpu_count()} CPUs, "
          f"{ROWS}-by-{COLS} order='F' matrices, median of {options.repeat} interleaved pairs")
    header = f"{'case':<34} {'tzcumfun':>12} {'NumPy':>12} {'NumPy/tz':>9}"
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
        print(f"{label:<34} {mine * scale:>9.2f} {unit} {numpy_time * scale:>9.2f} {unit} "
              f"{numpy_time / mine:>8.2f}x")
        results.append({"case": label, "tzcumfun_seconds": mine, "numpy_seconds": numpy_time,
                        "numpy_over_tzcumfun": numpy_time / mine})
    if options.json:
        with open(options.json, "w", encoding="utf-8") as out:
            json.dump({"numpy": np.__version__, "cpus": os.cpu_count(), "repeat": options.repeat,
                       "cases": results}, out, indent=1)


if __name__ == "__main__":
    main()
