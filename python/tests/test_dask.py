"""tzcumfun.dask on a two-worker LocalCluster: every result is the in-memory call's, bit for bit."""

import re

import dask.array as da
import distributed
import numpy as np
import pytest

import tzcumfun as tz
import tzcumfun.dask as tzd

NAMES = ("cumsum", "cumprod", "cummin", "cummax")


@pytest.fixture(scope="module")
def cluster():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=":0") as cluster, distributed.Client(cluster):
        yield


def special(rng, shape, dtype):
    """Random values of `dtype` with the values that steer the rules: NaN, Inf, -0, limits."""
    dtype = np.dtype(dtype)
    if dtype.kind in "iub":
        info = np.iinfo(np.uint8 if dtype.kind == "b" else dtype)
        return rng.choice([info.min, info.max, info.max // 2, 0, 1, 2], shape).astype(dtype)
    pool = np.array([np.nan, np.inf, -np.inf, -0.0, 0.0, 3e38, -1e-40, 2.0, -3.0, 0.5])
    real, imag = (np.where(rng.random(shape) < 0.3, rng.choice(pool, shape), rng.normal(size=shape))
                  for _ in range(2))
    values = np.stack((real, imag), -1).view(complex)[..., 0] if dtype.kind == "c" else real
    return values.astype(dtype)


def assert_same_bits(ours, expected, name):
    if name in ("cumsum", "cumprod") and ours.dtype.kind in "fc":
        # Where two NaNs meet in a sum or product the hardware picks the survivor, and the
        # library's own layouts already pick differently: there any NaN stands for any NaN.
        ours, expected = (np.where(np.isnan(array), np.nan, array) for array in (ours, expected))
    assert (ours.dtype, ours.shape) == (expected.dtype, expected.shape)
    assert np.ascontiguousarray(ours).tobytes() == np.ascontiguousarray(expected).tobytes()


def check_all(cases):
    """Computes every (array, chunks, name, args, keywords) case in one go on the cluster."""
    lazy = [getattr(tzd, name)(da.from_array(x, chunks=chunks), *args, **keywords)
            for x, chunks, name, args, keywords in cases]
    for (x, _, name, args, keywords), ours in zip(cases, da.compute(*lazy)):
        assert_same_bits(ours, getattr(tz, name)(x, *args, **keywords), name)


@pytest.mark.parametrize("dtype", ["float64", "float32", "complex128", "int8", "uint16", "bool"])
def test_random_arrays_chunked_along_and_across_the_scanned_axis(cluster, dtype):
    rng = np.random.default_rng(22)
    x = special(rng, (9, 7, 5), dtype)
    fortran = np.asfortranarray(special(rng, (9, 7), dtype))
    cases = [(x, (5, 4, 3), name, (), {"axis": axis, "reverse": reverse, "nan": nan})
             for name in NAMES for axis in (0, 1, 2) for reverse in (False, True)
             for nan in ("omit", "include")]
    cases += [(fortran, (4, 3), name, args, {}) for name in NAMES
              for args in [(), (2, "rev"), (3, "omitnan"), ("includemissing",)]]
    check_all(cases)


def test_carried_running_values_that_only_an_exact_continuation_keeps(cluster):
    inf, nan = np.inf, np.nan
    scan_nan = np.array([inf, -inf, 1.0, nan, 2.0])
    one_nan_part = np.array([inf + 1j, -inf + 1j, 1 + 1j, nan + 0j, 2j])
    recovery = np.array([1e300 + 1e300j, 1e10 - 1e300j, inf + 0j, 1j, 0j, 2 + 3j])
    saturating = np.array([100, 100, -100, -100, -100], np.int8)
    logical = np.array([[True, False], [True, True], [True, True]])
    cases = [(scan_nan, 2, "cumsum", "omitnan"), (scan_nan, 2, "cumsum", "omitnan", "reverse"),
             (scan_nan, ((2, 0, 2, 0, 1),), "cumsum", "omitnan"),  # empty blocks hand carries on
             (np.array([inf, 0.0, 5.0, nan]), 2, "cumprod", "omitnan"),
             (one_nan_part, 2, "cumsum", "omitnan"), (one_nan_part, 2, "cummax", "includenan"),
             (one_nan_part, 2, "cummin"), (np.array([nan, nan, 1.0, 2.0]), 1, "cummax"),
             (saturating, 2, "cumsum"), (np.array([200, 2, 0, 7], np.uint8), 1, "cumprod", "rev"),
             (np.array([-2**62, 4, -1, 3], np.int64), 1, "cumprod"), (logical, (1, 1), "cumprod"),
             (np.ones(5, bool), 2, "cumsum"), (recovery, 2, "cumprod"),
             (recovery, 1, "cumprod", "r"), (np.zeros((0, 4), bool), (1, 2), "cumsum"),
             (np.array([[nan, 1.0], [2.0, nan]]), 1, "cumsum", 3, "omitnan")]
    check_all([(x, chunks, name, args, {}) for x, chunks, name, *args in cases])


@pytest.mark.parametrize("name", NAMES)
@pytest.mark.parametrize("args, keywords", [(("bogus",), {}), ((0,), {}), (("r", "f"), {}),
                                           ((1.5,), {}), (("omitnan",), {"axis": 0}),
                                           ((), {"axis": 2}), ((), {"masked": True})])
def test_bad_arguments_fail_while_the_graph_is_built(name, args, keywords):
    x = np.arange(12.0).reshape(3, 4)
    if keywords == {"masked": True}:
        x, keywords = np.ma.array(x, mask=x > 5), {}
    with pytest.raises(Exception) as in_memory:
        getattr(tz, name)(x, *args, **keywords)
    with pytest.raises(type(in_memory.value), match=f"^{re.escape(str(in_memory.value))}$") as lazy:
        getattr(tzd, name)(da.from_array(x, chunks=2, asarray=False), *args, **keywords)
    assert getattr(lazy.value, "identifier", None) == getattr(in_memory.value, "identifier", None)


def test_a_carry_of_an_equal_dtype_object_fits():
    # Equal to float64 without being NumPy's own float64 object, as a dtype may arrive on a worker.
    dtype = np.dtype(np.float64, metadata={"unit": "m"})
    assert dtype is not np.dtype(np.float64)
    got = tzd._kernels.scan_block(0, 0, True, np.ones(3), 0, np.array([2.0]), dtype)
    assert got.tolist() == [3.0, 4.0, 5.0]
