"""Values tzcumfun shares with NumPy where both define the same scan, on random arrays."""

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


def scan(accumulate, a, axis, reverse):
    flip = (lambda x: np.flip(x, axis)) if reverse else (lambda x: x)
    return flip(accumulate(flip(a), axis=axis, dtype=a.dtype))


@st.composite
def cases(draw):
    """An array in either memory order (integers small enough that no sum saturates), one of its
    axes (counted from either end), a direction and a NaN flag."""
    dtype = draw(st.sampled_from(FLOATS + INTS))
    elements = None if dtype in FLOATS else st.integers(-9 * (np.dtype(dtype).kind == "i"), 9)
    shape = draw(hnp.array_shapes(min_dims=1, max_dims=3, min_side=0, max_side=7))
    a = draw(hnp.arrays(dtype, shape, elements=elements))
    a = np.asfortranarray(a) if draw(st.booleans()) else a
    nan = draw(st.sampled_from(["omit", "include"]))
    return a, draw(st.integers(-a.ndim, a.ndim - 1)), draw(st.booleans()), nan


@settings(max_examples=500)
@given(cases())
def test_values_match_numpy(case):
    a, axis, reverse, nan = case
    # Sums add one element after another in the element's own precision, as NumPy does: the
    # same bits, except that any NaN matches any NaN.
    got, want = tz.cumsum(a, axis=axis, reverse=reverse), scan(np.add.accumulate, a, axis, reverse)
    assert got.dtype == want.dtype and got.shape == want.shape
    nans = np.isnan(want)
    np.testing.assert_array_equal(np.isnan(got), nans)
    bits = np.dtype(f"u{a.dtype.itemsize}")
    np.testing.assert_array_equal(got.view(bits)[~nans], want.view(bits)[~nans])
    for op, omit, include in [(tz.cummax, np.fmax, np.maximum), (tz.cummin, np.fmin, np.minimum)]:
        want = scan((omit if nan == "omit" else include).accumulate, a, axis, reverse)
        got = op(a, axis=axis, reverse=reverse, nan=nan)
        # Values, not bits: which of -0.0 and +0.0 a tie keeps is unspecified in NumPy.
        np.testing.assert_array_equal(got, want)
        assert got.dtype == want.dtype
