"""tzcumfun's translation of Python calls into host calls: forms, dtypes, errors, memory."""

import pickle
import sys
import threading
import time

import numpy as np
import pytest
import scipy.sparse as sp

import tzcumfun as tz
from tzcumfun import KorvexError, KorvexTypeError, string, _testing as hooks

FUNCS = {"cumsum": tz.cumsum, "cumprod": tz.cumprod, "cummin": tz.cummin, "cummax": tz.cummax}
UFUNCS = {"cumsum": np.add, "cumprod": np.multiply, "cummin": np.minimum, "cummax": np.maximum}
A = np.asfortranarray(np.arange(1.0, 25.0).reshape(2, 3, 4) % 7)
M = np.ones((3, 2))
V = np.arange(1.0, 4.0)


# Each call form on A: (arguments, keywords) -> (axis, reverse) of the scan they name.
@pytest.mark.parametrize("op", FUNCS)
@pytest.mark.parametrize(
    "args, keywords, axis, reverse",
    [
        ((), {}, 0, False),
        ((3, "r", "includemissing"), {}, 2, True),
        (("REV", "omitnan"), {}, 0, True),
        ((), {"axis": np.int8(2), "reverse": True}, 2, True),
        ((), {"axis": -2, "nan": "omit"}, 1, False),
        ((np.uint64(2),), {}, 1, False),
        ((True,), {}, 0, False),
        ((np.array([[2]]),), {}, 1, False),
        ((sp.csc_matrix(np.array([[2.0]])),), {}, 1, False),
        ((string("reverse"),), {}, 0, True),
        ((2, np.array(["rev"], dtype=object)), {}, 1, True),
    ],
)
def test_call_forms_name_the_right_scan(op, args, keywords, axis, reverse):
    flip = (lambda x: np.flip(x, axis)) if reverse else (lambda x: x)
    result = FUNCS[op](A, *args, **keywords)
    np.testing.assert_array_equal(result, flip(UFUNCS[op].accumulate(flip(A), axis=axis)))
    assert result.shape == A.shape and result.flags.f_contiguous


@pytest.mark.parametrize(
    "a, args, keywords, expected",
    [
        (V, (), {}, [1, 3, 6]),  # a 1-D array is a row: its only axis is the host's dimension 2
        (V, (1,), {}, [1, 2, 3]),
        (V.reshape(1, 1, 3), (), {}, [[[1, 3, 6]]]),
        (5, (), {}, 5.0),
        ([1, 2, 3], (), {"axis": 0}, [1, 3, 6]),  # not an ndarray: the package's own path
        (np.frombuffer(bytes([2, 0, 3, 1]), dtype=bool), (), {}, [1, 1, 2, 3]),  # non-zero is true
        (np.frombuffer(bytes([2, 9, 0, 9, 3, 9, 1, 9]), dtype=bool)[::2], (), {}, [1, 1, 2, 3]),
        (np.matrix([[1.0, 2.0]]), (), {}, [[1, 3]]),  # a subclass is read as its base ndarray
    ],
)
def test_shapes_and_inputs_keep_their_own_form(a, args, keywords, expected):
    result = tz.cumsum(a, *args, **keywords)
    assert result.shape == np.shape(a) and type(result) in (np.ndarray, np.float64)
    np.testing.assert_array_equal(result, expected)


# Real dtypes' values are checked against NumPy elsewhere; here logical sums and products come
# back double, and complex values keep their dtype, ordered by magnitude, then angle; a complex
# result with no imaginary part is real in the host's form only.
@pytest.mark.parametrize("dtype", ["?", "c16", "c8"])
def test_logical_and_complex_dtypes(dtype):
    a = np.array([[1, 0, 1], [1, 1, 0]], dtype=dtype)
    a = a if dtype == "?" else a * (1 + 1j)
    for op, f in FUNCS.items():
        to_double = dtype == "?" and op in ("cumsum", "cumprod")
        assert f(a).dtype == (np.float64 if to_double else a.dtype)
    if dtype != "?":
        assert tz.cummax(np.array([1, 2j, -2, 2], dtype)).tolist() == [1, 2j, -2, -2]
        real = np.array([[1, 2]], dtype)
        sparse = sp.csc_array(real.astype(complex))
        assert tz.cumsum(real).dtype.kind == tz.cumsum(sparse, 2).dtype.kind == "f"
        assert tz.cumsum(real, axis=1).dtype == tz.cummax(real, nan="omit").dtype == dtype
        assert tz.cumsum(sparse, axis=1).dtype == complex


def test_keyword_and_out_results_keep_the_inputs_signs_of_zero():
    x = np.array([complex(1, -0.0), complex(2, -0.0)])
    assert list(np.signbit(tz.cumsum(x, axis=0).imag)) == list(np.signbit(np.cumsum(x).imag))
    # Nothing to scan along a length-1 axis, a 0-d input, a dimension past the last: copies.
    A = np.array([[complex(1, -0.0), complex(2, -0.0)]])
    for call in (lambda out: tz.cummax(A, axis=0, out=out), lambda out: tz.cumsum(A, 3, out=out),
                 lambda out: tz.cummin(A, 1, "rev", out=out)):
        out = np.empty_like(A)
        assert np.signbit(call(out).imag).all() and np.signbit(call(A.copy()).imag).all()
    assert np.signbit(tz.cumsum(np.complex128(complex(1, -0.0)), axis=0).imag)
    assert tz.cumsum(A, 3).dtype == tz.cumsum(A[0, 0]).dtype == np.float64  # the host's form


@pytest.mark.parametrize("dtype, expected", [(np.int64, [100, 200, 300]), ("i2", [100, 200, 300]),
                                             (np.float32, [100, 200, 300]), (None, [100, 127, 127])])
def test_dtype_runs_the_scan_in_the_dtype_asked_for(dtype, expected):
    a = np.full(3, 100, np.int8)[::-1]
    got = tz.cumsum(a, dtype=dtype)
    assert got.dtype == np.dtype(dtype or a.dtype) and got.tolist() == expected
    big = np.array([2**62, 2**62], np.int64)
    assert tz.cumsum(big.astype(np.uint64), dtype=np.int64).tolist() == [2**62, 2**63 - 1]
    out = np.zeros(3, np.int64)
    assert tz.cumsum(a, dtype=np.int64, out=out) is out and out.tolist() == [100, 200, 300]


@pytest.mark.parametrize("kind", [sp.csc_matrix, sp.coo_array])
@pytest.mark.parametrize("dtype", [np.float64, np.complex128, np.bool_])
def test_sparse_round_trip(kind, dtype):
    dense = np.array([[1, 0, 2], [0, 0, 3], [4, 0, 0]], dtype=dtype)
    for op, dim in [("cumsum", 1), ("cumprod", 2), ("cummax", 2)]:
        result = FUNCS[op](kind(dense), dim)
        assert type(result) is (sp.csc_matrix if kind is sp.csc_matrix else sp.csc_array)
        np.testing.assert_array_equal(result.toarray(), FUNCS[op](dense, dim))


# One error of each kind the host reports (the library's, the string library's, the dimension
# reader's, an arity error), with its identifier; then the module's own refusals, with their text.
AxisError = getattr(np, "exceptions", np).AxisError
@pytest.mark.parametrize(
    "call, error, text",
    [
        (lambda: tz.cumsum(M, string(None)), KorvexError, "Korvex:string:MissingNotSupported"),
        (lambda: tz.cumsum(M, "bogus"), KorvexError, "Korvex:cumsum:wrongFlag"),
        (lambda: tz.cumsum(M, 2, "includemissing!"), KorvexError, "Korvex:cumsum:wrongFlag"),
        (lambda: tz.cumsum("abc", axis=0), KorvexTypeError, "Korvex:cumsum:wrongInput"),
        (lambda: tz.call("cummin", 1, string("x")), KorvexTypeError, "Korvex:cummin:wrongInput"),
        (lambda: tz.cumsum(M, 10**400), KorvexError,
         "Korvex:getdimarg:dimensionMustBePositiveInteger"),
        (lambda: tz.call("cumsum", 10**30, M), KorvexError, "Korvex:TooManyOutputs"),
        (lambda: tz.cumsum(np.ones(2, np.float16)), TypeError, "float16"),
        (lambda: tz.cumsum(sp.csc_matrix(np.eye(2, dtype=np.int32))), TypeError, "int32"),
        (lambda: tz.cumsum(M, 1, axis=0), TypeError, "not both"),
        (lambda: tz.cumsum(M, axis=True), TypeError, "bool"),
        (lambda: tz.cumsum(M, axis=-3), AxisError, "axis -3 is out of bounds"),
        (lambda: tz.cumsum(M, axis=2), AxisError, "axis 2 is out of bounds"),
        (lambda: tz.cumsum(V, axis=10**30), AxisError, "out of bounds for array of dimension 1"),
        (lambda: tz.cumsum(np.ma.array(V, mask=[0, 1, 0])), TypeError, 'A.filled(np.nan) with nan="omit"'),
        (lambda: tz.cumsum(M, nan="omitnan"), ValueError, "omitnan"),
        (lambda: tz.call("cumfoo", 1, M), ValueError, "cumfoo"),
        # out= is refused before anything runs; a host error stays the host's.
        (lambda: tz.cumsum(M, "bogus", out=M.copy()), KorvexError, "Korvex:cumsum:wrongFlag"),
        (lambda: tz.cumsum(M, out=np.ones((2, 3))), ValueError, "(2, 3), and the result's is (3, 2)"),
        (lambda: tz.cumsum(M > 0, out=M > 0), TypeError, "dtype bool, and the result's is float64"),
        (lambda: tz.cumsum(M, out=np.ones((3, 2), ">f8")), ValueError, "native byte order"),
        (lambda: tz.cumsum(M, 1, out=np.ones((3, 4))[:, ::2]), ValueError, "contiguous"),
        (lambda: tz.cumsum(M, out=np.broadcast_to(1.0, (3, 2))), ValueError, "read-only"),
        (lambda: tz.cumsum(M[:2, :2], out=M[:2, :2].T), ValueError, "shares memory"),
        (lambda: tz.cumsum(sp.csc_matrix(M), out=M.copy()), TypeError, "sparse"),
        (lambda: tz.cumsum(V, out=[0.0] * 3), TypeError, "ndarray, not list"),
        (lambda: tz.call("cumsum", 1, M, out=M.copy()), TypeError, "'out'"),
        (lambda: tz.cumsum(V, dtype=np.float16), TypeError, "float16"),
        (lambda: tz.cumsum(V, dtype=np.int64, out=V.copy()), TypeError, "the result's is int64"),
        (lambda: tz.cumsum(string("x"), dtype=np.int64), TypeError, "dtype"),
    ],
)
def test_errors(call, error, text):
    with pytest.raises(error) as caught:
        call()
    e = caught.value
    if isinstance(e, KorvexError):
        assert e.identifier == text and text.endswith(":" + e.key) and "Unknown" not in str(e)
        assert e.catalog.startswith("Korvex") and pickle.loads(pickle.dumps(e)).identifier == text
        # Any Korvex error is a ValueError; a refusal of the data's type is a TypeError too.
        assert isinstance(e, ValueError) and isinstance(e, TypeError) == (error is KorvexTypeError)
    else:
        assert text in str(caught.value)


def test_gateways_run_without_the_gil_and_leave_nothing_behind():
    # While long calls run, this thread keeps ticking only if they let go of the GIL; holding it
    # would allow about one tick per call, between calls.
    x, calls, ticks = np.asfortranarray(np.ones((2000, 2000))), 5, 0
    live, references = hooks.live_arrays(), sys.getrefcount(x)
    worker = threading.Thread(target=lambda: [tz.cumsum(x, 2) for _ in range(calls)])
    worker.start()
    while worker.is_alive():
        ticks += 1
        time.sleep(0.0005)
    assert ticks > 4 * calls
    with pytest.raises(KorvexError):  # a refused call lets go of its borrowed input too
        tz.cumsum(x, "bogus")
    assert hooks.live_arrays() == live and sys.getrefcount(x) == references
