"""A short tour of tzcumfun.dask: the library's exact scans of a Dask array on a LocalCluster."""

import os
import sys

# As in demo.py: the installed package (or the build tree's) must win over the source tree's.
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path = [entry for entry in sys.path if os.path.abspath(entry or os.curdir) != HERE]

import dask.array as da  # noqa: E402
import distributed  # noqa: E402
import numpy as np  # noqa: E402

import tzcumfun as tz  # noqa: E402
import tzcumfun.dask as tzd  # noqa: E402


def bits(array):
    return np.ascontiguousarray(array).view(np.uint8)


def main():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=":0") as cluster, \
            distributed.Client(cluster) as client:
        print(client)
        X = da.random.RandomState(0).normal(size=(2000, 3000), chunks=(500, 1000))
        lazy = tzd.cumsum(X, axis=1, reverse=True)
        print("tzd.cumsum(X, axis=1, reverse=True) ->", lazy)
        A = X.compute()
        expected = tz.cumsum(A, axis=1, reverse=True)
        ours = lazy.compute()
        print("  bits equal to tz.cumsum(A, ...) in memory:", np.array_equal(bits(ours), bits(expected)))
        theirs = da.cumsum(X, axis=1).compute()
        differ = np.count_nonzero(theirs != tz.cumsum(A, axis=1))
        print(f"  dask.array.cumsum(X, axis=1): {differ} of {A.size} elements differ in the last bits")

        pieces = da.from_array(np.array([np.inf, -np.inf, 1.0, np.nan, 2.0]), chunks=2)
        print("omitnan sum across chunks, Inf - Inf carried:",
              tzd.cumsum(pieces, "omitnan").compute())
        small = da.from_array(np.array([100, 100, -100, -100, -100], dtype=np.int8), chunks=2)
        print("int8 sum across chunks, saturating:       ", tzd.cumsum(small).compute())
        print("cummax of the same, reversed:             ", tzd.cummax(small, "reverse").compute())
        try:
            tzd.cumprod(X, "reverse", "forward")
        except tz.KorvexError as error:
            print("refused before anything ran:              ", error.identifier)


if __name__ == "__main__":
    main()
