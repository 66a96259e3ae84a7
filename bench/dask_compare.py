"""tzcumfun.dask against dask.array.cumsum and one in-memory tzcumfun call, on a LocalCluster.

Run from the repository root after a release build:

    PYTHONPATH=build/release/python /usr/bin/python3 bench/dask_compare.py [--gib 2] [--repeat 5]

One float64 array of about --gib GiB, chunked four ways along both axes, is made on two worker
processes of one thread each and kept there. Every scan is persisted on the workers, so the times
are of the scans and their carries, not of moving the array. The in-memory call scans the same
values, gathered once into this process in Fortran order, on the same cores (oneTBB uses them
all). Each result is then compared with the in-memory one block by block, bit for bit.
"""

import argparse
import statistics
import time

import dask.array as da
import distributed
import numpy as np
from dask.graph_manipulation import clone

import tzcumfun as tz
import tzcumfun.dask as tzd


def persist_time(lazy):
    """Seconds to run the scan and keep its result on the workers, and the persisted result."""
    start = time.perf_counter()
    result = lazy.persist()
    distributed.wait(result)
    return time.perf_counter() - start, result


def same_bits(result, expected):
    """Compares block by block, so that only one block at a time is gathered."""
    for index in np.ndindex(*result.numblocks):
        slices = tuple(slice(sum(chunks[:at]), sum(chunks[: at + 1]))
                       for chunks, at in zip(result.chunks, index))
        block = np.ascontiguousarray(result.blocks[index].compute())
        if block.tobytes() != np.ascontiguousarray(expected[slices]).tobytes():
            return False
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--gib", type=float, default=2.0, help="array size in GiB")
    parser.add_argument("--repeat", type=int, default=5, help="runs per timing (median)")
    options = parser.parse_args()
    side = int((options.gib * 2**30 / 8) ** 0.5) // 4 * 4
    chunks = side // 4

    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=":0") as cluster, \
            distributed.Client(cluster) as client:
        values = da.random.RandomState(22).normal(size=(side, side), chunks=chunks).persist()
        distributed.wait(values)
        # Workers import the package and Dask's array code on first use, not inside a timing.
        warm = da.ones((8, 8), chunks=4)
        client.compute([tzd.cumsum(warm, axis=0), da.cumsum(warm, axis=0)], sync=True)

        local = np.empty((side, side), order="F")
        for index in np.ndindex(*values.numblocks):
            rows, cols = (slice(at * chunks, (at + 1) * chunks) for at in index)
            local[rows, cols] = values.blocks[index].compute()

        print(f"float64 {side}x{side} ({side * side * 8 / 2**30:.2f} GiB), chunks {chunks}x{chunks},"
              f" LocalCluster 2 workers x 1 thread; medians of {options.repeat}")
        print(f"{'cumsum':<10}{'tzcumfun.dask':>15}{'dask.array':>12}{'in-memory':>11}"
              f"{'ours/dask':>11}{'ours/mem':>10}  bits equal (ours, dask)")
        for axis in (0, 1):
            # The three runs alternate, so that all meet the same load on the shared machine.
            runs = {"memory": [], "ours": [], "dask": []}
            equal = {}
            for repeat in range(options.repeat):
                expected = None
                start = time.perf_counter()
                expected = tz.cumsum(local, axis=axis)
                runs["memory"].append(time.perf_counter() - start)
                for label, scan in (("ours", tzd.cumsum), ("dask", da.cumsum)):
                    # Fresh keys every run: the scheduler would hand back the last run's keys.
                    seconds, result = persist_time(clone(scan(values, axis=axis), omit=values))
                    runs[label].append(seconds)
                    if repeat + 1 == options.repeat:
                        equal[label] = same_bits(result, expected)
                    result = None
            expected = None
            memory, ours, theirs = (statistics.median(times) for times in runs.values())
            print(f"{'axis=' + str(axis):<10}{ours:>14.3f}s{theirs:>11.3f}s{memory:>10.3f}s"
                  f"{ours / theirs:>11.2f}{ours / memory:>10.2f}  {equal['ours']}, {equal['dask']}")


if __name__ == "__main__":
    main()
