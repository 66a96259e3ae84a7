"""Values tzcumfun shares with NumPy where both define the same scan, on random arrays."""

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

import tzcumfun as tz

settings.register_profile("tzcumfun", database=None, deadline=None)  # no database in the tree
settings.load_profile("tzcumfun")

# Overflow and Inf - Inf are part of the properties; NumPy's warnings about them are noise here.
pytestmark = pytest.mark.filterwarnings("ignore::RuntimeWarning")

FLOATS = [np.float64, np.float32]
INTS = [np.int8, np.uint8, np.int16, np.uint16, np.int32, np.uint32, np.int64, np.uint64]


def scan(accumulate, a, axis, reverse):
    if not reverse:
        return accumulate(a, axis=axis)
    return np.flip(accumulate(np.flip(a, axis), axis=axis), axis)


@st.composite
def cases(draw, dtypes, elements=None, max_side=7):
    """An array in either memory order, one of its axes, and a direction."""
    dtype = draw(st.sampled_from(dtypes))
    shape = draw(hnp.array_shapes(min_dims=1, max_dims=3, min_side=0, max_side=max_side))
    a = draw(hnp.arrays(dtype, shape, elements=elements(dtype) if elements else None))
    if draw(st.booleans()):
        a = np.asfortranarray(a)
    return a, draw(st.integers(0, a.ndim - 1)), draw(st.booleans())


@settings(max_examples=300)
@given(cases(FLOATS))
def test_float_cumsum_is_numpy_bit_for_bit(case):
    # Both add one element after another in the element's own precision; any NaN matches any NaN.
    a, axis, reverse = case
    got, want = tz.cumsum(a, axis=axis, reverse=reverse), scan(np.cumsum, a, axis, reverse)
    assert got.dtype == want.dtype and got.shape == want.shape
    nan = np.isnan(want)
    np.testing.assert_array_equal(np.isnan(got), nan)
    bits = np.dtype(f"u{a.dtype.itemsize}")
    np.testing.assert_array_equal(got.view(bits)[~nan], want.view(bits)[~nan])


@settings(max_examples=300)
@given(cases(FLOATS + [np.int32, np.uint8]), st.sampled_from(["omit", "include"]))
def test_cummax_and_cummin_follow_fmax_and_maximum(case, nan):
    a, axis, reverse = case
    for op, omit, include in [(tz.cummax, np.fmax, np.maximum), (tz.cummin, np.fmin, np.minimum)]:
        want = scan((omit if nan == "omit" else include).accumulate, a, axis, reverse)
        got = op(a, axis=axis, reverse=reverse, nan=nan)
        # Values, not bits: which of -0.0 and +0.0 a tie keeps is unspecified in NumPy.
        np.testing.assert_array_equal(got, want)
        assert got.dtype == want.dtype


@settings(max_examples=200)
@given(cases(FLOATS, elements=lambda t: st.floats(width=np.finfo(t).bits, allow_infinity=False)))
def test_omitnan_sum_matches_nancumsum_in_value(case):
    # np.nancumsum adds 0 for each NaN, which turns a running -0.0 into +0.0; the host keeps
    # the running sum untouched, so only values are compared.
    a, axis, reverse = case
    got = tz.cumsum(a, axis=axis, reverse=reverse, nan="omit")
    np.testing.assert_array_equal(got, scan(np.nancumsum, a, axis, reverse))


def exact_scan(a, axis, step, reverse):
    """The running result in Python integers, clamped to the dtype's range after every step."""
    info = np.iinfo(a.dtype)
    moved = np.moveaxis(a, axis, -1)
    out = np.empty_like(moved)
    for index in np.ndindex(moved.shape[:-1]):
        line = [int(x) for x in moved[index]]
        running = None
        for position in reversed(range(len(line))) if reverse else range(len(line)):
            value = line[position] if running is None else step(running, line[position])
            running = min(max(value, info.min), info.max)
            out[index + (position,)] = running
    return np.moveaxis(out, -1, axis)


@settings(max_examples=300)
@given(cases(INTS, max_side=6), st.sampled_from(["cumsum", "cumprod"]))
def test_integer_scans_saturate_at_every_step(case, op):
    # NumPy wraps around on overflow by design; the host saturates, so the reference is exact
    # integer arithmetic clamped at each step.
    a, axis, reverse = case
    step = (lambda x, y: x + y) if op == "cumsum" else (lambda x, y: x * y)
    got = getattr(tz, op)(a, axis=axis, reverse=reverse)
    assert got.dtype == a.dtype
    np.testing.assert_array_equal(got, exact_scan(a, axis, step, reverse))
