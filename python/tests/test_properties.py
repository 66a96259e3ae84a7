"""Properties tzcumfun shares with NumPy where both define the same scan, checked bit for bit."""

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

import tzcumfun as tz

# Overflow and Inf - Inf are part of the properties; NumPy's warnings about them are noise here.
pytestmark = pytest.mark.filterwarnings("ignore::RuntimeWarning")

FLOATS = [np.float64, np.float32]
INTS = [np.int8, np.uint8, np.int16, np.uint16, np.int32, np.uint32, np.int64, np.uint64]


def host_dim(a, axis):
    # A 1-D array is a 1-by-n row: its only axis is the host's dimension 2.
    return 2 if a.ndim == 1 else axis + 1


def bits(a):
    return a.view(np.dtype(f"u{a.dtype.itemsize}"))


def same_bits_nan_as_nan(got, want):
    """Equal bit patterns, except that any NaN matches any NaN (payloads may differ)."""
    assert got.dtype == want.dtype and got.shape == want.shape
    nan = np.isnan(want)
    np.testing.assert_array_equal(np.isnan(got), nan)
    np.testing.assert_array_equal(bits(got)[~nan], bits(want)[~nan])


@st.composite
def arrays_and_axis(draw, dtypes, elements=None, max_side=7):
    dtype = draw(st.sampled_from(dtypes))
    shape = draw(hnp.array_shapes(min_dims=1, max_dims=3, min_side=0, max_side=max_side))
    a = draw(hnp.arrays(dtype, shape, elements=elements(dtype) if elements else None))
    if draw(st.booleans()):
        a = np.asfortranarray(a)
    return a, draw(st.integers(0, a.ndim - 1))


@settings(max_examples=300)
@given(arrays_and_axis(FLOATS), st.booleans())
def test_float_cumsum_is_numpy_bit_for_bit(case, reverse):
    # Both scan one element after another in the element's own precision.
    a, axis = case
    if reverse:
        want = np.flip(np.cumsum(np.flip(a, axis), axis=axis), axis)
        got = tz.cumsum(a, host_dim(a, axis), "reverse")
    else:
        want, got = np.cumsum(a, axis=axis), tz.cumsum(a, host_dim(a, axis))
    same_bits_nan_as_nan(got, want)


@pytest.mark.parametrize("dtype", FLOATS)
@pytest.mark.parametrize("axis", [0, 1, 2])
def test_float_cumsum_of_large_arrays_is_numpy_bit_for_bit(dtype, axis):
    # Large enough that every layout runs in parallel.
    a = np.random.default_rng(axis).normal(size=(90, 80, 70)).astype(dtype)
    a = np.asfortranarray(a * np.float32(1e4))
    same_bits_nan_as_nan(tz.cumsum(a, axis + 1), np.cumsum(a, axis=axis))
    backwards = np.flip(np.cumsum(np.flip(a, axis), axis=axis), axis)
    same_bits_nan_as_nan(tz.cumsum(a, axis + 1, "reverse"), backwards)


@settings(max_examples=300)
@given(arrays_and_axis(FLOATS + [np.int32, np.uint8]), st.booleans(),
       st.sampled_from(["omit", "include"]))
def test_cummax_and_cummin_follow_fmax_and_maximum(case, reverse, nan):
    a, axis = case
    for op, omit, include in [(tz.cummax, np.fmax, np.maximum), (tz.cummin, np.fmin, np.minimum)]:
        ufunc = omit if nan == "omit" else include
        if reverse:
            want = np.flip(ufunc.accumulate(np.flip(a, axis), axis=axis), axis)
        else:
            want = ufunc.accumulate(a, axis=axis)
        got = op(a, axis=axis if a.ndim > 1 else 1, reverse=reverse, nan=nan)
        # Values, not bits: which of -0.0 and +0.0 a tie keeps is unspecified in NumPy.
        np.testing.assert_array_equal(got, want)
        assert got.dtype == want.dtype


@settings(max_examples=200)
@given(arrays_and_axis(FLOATS, elements=lambda t: st.floats(width=np.finfo(t).bits,
                                                            allow_infinity=False)))
def test_omitnan_sum_matches_nancumsum_in_value(case):
    # np.nancumsum adds 0 for each NaN, which turns a running -0.0 into +0.0; the host keeps
    # the running sum untouched, so only values are compared.
    a, axis = case
    got = tz.cumsum(a, host_dim(a, axis), "omitnan")
    np.testing.assert_array_equal(got, np.nancumsum(a, axis=axis))
    assert not np.isnan(got).any()


def exact_scan(a, axis, step, reverse):
    """The running result in Python integers, clamped to the dtype's range after every step."""
    info = np.iinfo(a.dtype)
    moved = np.moveaxis(a, axis, -1)
    out = np.empty_like(moved)
    for index in np.ndindex(moved.shape[:-1]):
        line = [int(x) for x in moved[index]]
        order = range(len(line) - 1, -1, -1) if reverse else range(len(line))
        running = None
        for position in order:
            value = line[position] if running is None else step(running, line[position])
            running = min(max(value, info.min), info.max)
            out[index + (position,)] = running
    return np.moveaxis(out, -1, axis)


@settings(max_examples=300)
@given(arrays_and_axis(INTS, max_side=6), st.booleans(), st.sampled_from(["cumsum", "cumprod"]))
def test_integer_scans_saturate_at_every_step(case, reverse, op):
    # NumPy wraps around on overflow by design; the host saturates, so the reference is exact
    # integer arithmetic clamped at each step.
    a, axis = case
    step = (lambda x, y: x + y) if op == "cumsum" else (lambda x, y: x * y)
    got = getattr(tz, op)(a, host_dim(a, axis), "reverse" if reverse else "forward")
    assert got.dtype == a.dtype
    np.testing.assert_array_equal(got, exact_scan(a, axis, step, reverse))
