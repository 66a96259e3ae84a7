"""tzcumfun's translation of Python calls into host calls: forms, kinds, dtypes, errors, memory."""

import gc
import pickle
import threading
import time
import tracemalloc

import numpy as np
import pytest
import scipy.sparse as sp

import tzcumfun as tz
from tzcumfun import KorvexError, string

FUNCS = {"cumsum": tz.cumsum, "cumprod": tz.cumprod, "cummin": tz.cummin, "cummax": tz.cummax}
A = np.asfortranarray(np.arange(1.0, 25.0).reshape(2, 3, 4) % 7)


def along(op, a, axis, reverse=False):
    """NumPy's scan of the same operation, for data without NaN."""
    ufunc = dict(cumsum=np.add, cumprod=np.multiply, cummin=np.minimum, cummax=np.maximum)[op]
    if reverse:
        return np.flip(ufunc.accumulate(np.flip(a, axis), axis=axis), axis)
    return ufunc.accumulate(a, axis=axis)


# (arguments after A, or keywords) -> (axis, reverse) of the scan they name.
FORMS = [
    ((), {}, 0, False),
    ((2,), {}, 1, False),
    ((3,), {}, 2, False),
    (("reverse",), {}, 0, True),
    (("REV", "omitnan"), {}, 0, True),
    ((3, "r", "includemissing"), {}, 2, True),
    ((2, "f"), {}, 1, False),
    ((), {"axis": 1}, 1, False),
    ((), {"axis": np.int8(2), "reverse": True}, 2, True),
    ((), {"reverse": False, "nan": "omit"}, 0, False),
    ((), {"nan": "include"}, 0, False),
    # Every kind of dimension value the host's reader accepts.
    ((np.int8(2),), {}, 1, False),
    ((np.uint64(2),), {}, 1, False),
    ((np.float32(2),), {}, 1, False),
    ((2.0,), {}, 1, False),
    ((True,), {}, 0, False),
    ((np.array([[2]]),), {}, 1, False),
    ((sp.csc_matrix(np.array([[2.0]])),), {}, 1, False),
    # Every kind of option text.
    ((string("reverse"),), {}, 0, True),
    ((np.str_("rev"),), {}, 0, True),
    ((np.array("rev"),), {}, 0, True),
    ((np.array(["rev"]),), {}, 0, True),
    ((np.array(["rev"], dtype=object),), {}, 0, True),
    ((2, string(["rev"])), {}, 1, True),
]


@pytest.mark.parametrize("op", FUNCS)
@pytest.mark.parametrize("args, keywords, axis, reverse", FORMS)
def test_call_forms_name_the_right_scan(op, args, keywords, axis, reverse):
    result = FUNCS[op](A, *args, **keywords)
    np.testing.assert_array_equal(result, along(op, A, axis, reverse))
    assert result.shape == A.shape and result.flags.f_contiguous


@pytest.mark.parametrize("op", FUNCS)
def test_dimension_past_the_last_returns_an_unaliased_copy(op):
    for result in (FUNCS[op](A, 4), FUNCS[op](A, axis=7)):
        np.testing.assert_array_equal(result, A)
        assert not np.shares_memory(result, A) and result.flags.owndata


@pytest.mark.parametrize(
    "shape, expected_axis",
    [((5,), 0), ((), None), ((4, 1, 1), 0), ((1, 1, 4), 2), ((1, 3), 1), ((0, 3), 0),
     ((3, 1, 2, 1), 0)],
)
def test_shapes_keep_their_own_form(shape, expected_axis):
    a = np.arange(1.0, 1.0 + np.prod(shape)).reshape(shape)
    result = tz.cumsum(a)
    assert result.shape == a.shape
    expected = a if expected_axis is None else np.cumsum(a, expected_axis)
    np.testing.assert_array_equal(result, expected)


def test_scalars_and_lists():
    assert tz.cumsum(5).dtype == np.float64 and tz.cumsum(5).shape == ()
    assert tz.cumsum(True).dtype == np.float64 and tz.cummax(True).dtype == np.bool_
    np.testing.assert_array_equal(tz.cumsum([1, 2, 3]), [1, 3, 6])
    np.testing.assert_array_equal(tz.cumsum([[1, 2], [3, 4]]), [[1, 2], [4, 6]])
    # A 1-D array is a row: its dimension 1 has length 1.
    np.testing.assert_array_equal(tz.cumsum(np.arange(3.0), 1), [0, 1, 2])
    np.testing.assert_array_equal(tz.cumsum(np.arange(3.0), 2), [0, 1, 3])


DTYPES = ["?", "f8", "f4", "c16", "c8", "i1", "u1", "i2", "u2", "i4", "u4", "i8", "u8"]


@pytest.mark.parametrize("dtype", DTYPES)
@pytest.mark.parametrize("order", ["F", "C"])
def test_dtypes_map_to_host_classes(dtype, order):
    a = np.array([[1, 0, 1], [1, 1, 0]], dtype=dtype, order=order)
    if a.dtype.kind == "c":
        a = a * (1 + 1j)
    sums, maxima = tz.cumsum(a), tz.cummax(a)
    assert sums.dtype == (np.float64 if dtype == "?" else a.dtype)
    assert maxima.dtype == a.dtype
    np.testing.assert_array_equal(sums, np.cumsum(a, axis=0))


def test_complex_ordering_and_real_results():
    # Magnitude first, then phase angle: -2 (angle pi) outranks 2j (angle pi/2).
    np.testing.assert_array_equal(tz.cummax(np.array([1, 2j, -2, 2])), [1, 2j, -2, -2])
    np.testing.assert_array_equal(tz.cummin(np.array([-2, 2j, 1])), [-2, 2j, 1])
    # Results whose imaginary parts are all zero come back real.
    assert tz.cumsum(np.array([1 + 0j, 2])).dtype == np.float64


def tz_axis_error():
    return getattr(getattr(np, "exceptions", np), "AxisError", ValueError)


def test_axes_name_the_arrays_own_axes():
    v = np.array([1.0, 2.0, 3.0])
    for axis in (0, -1):
        np.testing.assert_array_equal(tz.cumsum(v, axis=axis), [1, 3, 6])
    M = np.asfortranarray(np.arange(6.0).reshape(2, 3))
    np.testing.assert_array_equal(tz.cumsum(M, axis=-1), np.cumsum(M, axis=1))
    np.testing.assert_array_equal(tz.cumsum(M, axis=-2), np.cumsum(M, axis=0))


def test_byte_swapped_and_strided_inputs_are_read_correctly():
    base = np.arange(24.0).reshape(4, 6)
    for a in (base.astype(">f8"), base[::2, 1::2], base.T, np.asfortranarray(base)[:, ::3]):
        np.testing.assert_array_equal(tz.cumsum(a, 2), np.cumsum(a, axis=1))
    # A bool array over arbitrary bytes: every non-zero byte is true, on every path.
    odd = np.frombuffer(bytes([2, 0, 3, 1]), dtype=bool)
    np.testing.assert_array_equal(tz.cumsum(odd), [1, 1, 2, 3])
    np.testing.assert_array_equal(tz.cumsum(odd.reshape(2, 2, order="F"), 3), [[1, 1], [0, 1]])
    assert tz.cummax(odd).view(np.uint8).tolist() == [1, 1, 1, 1]


@pytest.mark.parametrize("kind", [sp.csc_matrix, sp.csr_matrix, sp.csc_array, sp.coo_array])
@pytest.mark.parametrize("dtype", [np.float64, np.complex128, np.bool_])
def test_sparse_round_trip(kind, dtype):
    dense = np.array([[1, 0, 2], [0, 0, 3], [4, 0, 0]], dtype=dtype)
    matrix = kind(dense)
    for op, dim in [("cumsum", 1), ("cumprod", 2), ("cummax", 2)]:
        result = FUNCS[op](matrix, dim)
        is_matrix = kind in (sp.csc_matrix, sp.csr_matrix)
        assert type(result) is (sp.csc_matrix if is_matrix else sp.csc_array)
        expected = FUNCS[op](dense, dim)
        np.testing.assert_array_equal(result.toarray(), expected)
        assert result.dtype == expected.dtype


def test_sparse_duplicates_are_summed_without_touching_the_input():
    parts = (np.array([1.0, 2.0, 5.0]), np.array([1, 1, 0]), np.array([0, 2, 3]))
    matrix = sp.csc_matrix(parts, shape=(2, 2))
    before = (matrix.data.copy(), matrix.indices.copy())
    np.testing.assert_array_equal(tz.cumsum(matrix).toarray(), [[0, 5], [3, 5]])
    np.testing.assert_array_equal(matrix.data, before[0])
    np.testing.assert_array_equal(matrix.indices, before[1])


M = np.ones((3, 2))
ERRORS = [
    # (function, arguments, identifier, catalog)
    ("cumsum", ("abc",), "Korvex:cumsum:wrongInput", "Korvex:cumfun"),
    ("cummin", (string("1"),), "Korvex:cummin:wrongInput", "Korvex:cumfun"),
    ("cummax", (np.array(["1"]),), "Korvex:cummax:wrongInput", "Korvex:cumfun"),
    ("cumprod", (M, "omitnan", "includenan"), "Korvex:cumprod:duplicateNaNFlag", "Korvex:cumfun"),
    ("cummin", (M, "f", "R"), "Korvex:cummin:duplicateDirection", "Korvex:cumfun"),
    ("cummax", (M, 2, 2), "Korvex:cummax:wrongFlag", "Korvex:cumfun"),
    ("cumsum", (M, "2"), "Korvex:cumsum:wrongFlag", "Korvex:cumfun"),
    ("cumsum", (M, 1, string(["f", "r"])), "Korvex:cumsum:wrongFlag", "Korvex:cumfun"),
    ("cumsum", (M, 1, True), "Korvex:cumsum:wrongFlag", "Korvex:cumfun"),
    ("cumsum", (M, string(None)), "Korvex:string:MissingNotSupported", "Korvex:string"),
    ("cumsum", (M, 1, np.array([None], dtype=object)), "Korvex:string:MissingNotSupported",
     "Korvex:string"),
] + [
    ("cumsum", (M, bad), "Korvex:getdimarg:dimensionMustBePositiveInteger", "Korvex:getdimarg")
    for bad in (0, -1, 2.5, 10**400, float("nan"), float("inf"), 2**63, False, 2 + 0j, np.int8(-1),
                np.uint64(2**63), np.array([1, 2]), np.empty((0, 0)), string(["f", "r"]))
]


@pytest.mark.parametrize("op, args, identifier, catalog", ERRORS)
def test_errors_keep_identifier_and_message_id(op, args, identifier, catalog):
    with pytest.raises(KorvexError) as caught:
        FUNCS[op](*args)
    error = caught.value
    assert (error.identifier, error.catalog) == (identifier, catalog)
    assert identifier.endswith(":" + error.key)
    assert str(error) and "Unknown" not in str(error)
    assert pickle.loads(pickle.dumps(error)).identifier == identifier


@pytest.mark.parametrize(
    "nargout, args, identifier",
    [(2, (), "Korvex:TooManyOutputs"), (2, (M,), "Korvex:TooManyOutputs"), (1, (), "Korvex:minrhs"),
     (0, (M, 1, "f", "o", "x"), "Korvex:TooManyInputs"), (10**30, (M,), "Korvex:TooManyOutputs")],
)
def test_raw_call_reaches_the_arity_checks(nargout, args, identifier):
    with pytest.raises(KorvexError, match="arguments") as caught:
        tz.call("cumsum", nargout, *args)
    assert caught.value.identifier == identifier


def test_raw_call_results():
    assert tz.call("cummax", 0, M) is None
    np.testing.assert_array_equal(tz.call("cumprod", 1, M, 1, "reverse", "omitnan"), M)
    with pytest.raises(ValueError):
        tz.call("cumfoo", 1, M)


@pytest.mark.parametrize(
    "call, error, text",
    [
        (lambda: tz.cumsum(np.ones(2, np.float16)), TypeError, "float16"),
        (lambda: tz.cumsum(np.array([1, 2], dtype=object)), TypeError, "object"),
        (lambda: tz.cumsum(np.array(["2020-01-01"], dtype="M8[D]")), TypeError, "datetime64"),
        (lambda: tz.cumsum(np.ones(2, np.longdouble)), TypeError, "float128"),
        (lambda: tz.cumsum(M, np.float16(1)), TypeError, "float16"),
        (lambda: tz.cumsum(sp.csc_matrix(np.eye(2, dtype=np.int32))), TypeError, "int32"),
        (lambda: tz.cumsum(M, 1, axis=0), TypeError, "not both"),
        (lambda: tz.cumsum(M, "reverse", nan="omit"), TypeError, "not both"),
        (lambda: tz.cumsum(M, axis=1.0), TypeError, "float"),
        (lambda: tz.cumsum(M, axis=True), TypeError, "bool"),
        (lambda: tz.cumsum(M, axis=-3), tz_axis_error(), "out of bounds"),
        (lambda: tz.cumsum(M, reverse="yes"), TypeError, "bool"),
        (lambda: tz.cumsum(M, nan="omitnan"), ValueError, "omitnan"),
        (lambda: string([1]), TypeError, "str"),
    ],
)
def test_python_side_refusals(call, error, text):
    with pytest.raises(error, match=text):
        call()


def test_fortran_input_is_borrowed_and_never_written():
    a = np.asfortranarray(np.random.default_rng(1).normal(size=(300, 200)))
    a.flags.writeable = False
    snapshot = a.copy()
    before = tz._input_copies()
    results = [f(a, dim, *flags) for f in FUNCS.values() for dim in (1, 2)
               for flags in ((), ("reverse",))]
    assert tz._input_copies() == before
    np.testing.assert_array_equal(a, snapshot)
    assert not any(np.shares_memory(r, a) for r in results)
    # NumPy reports its buffers to tracemalloc and the host's are not, so an uncounted copy of
    # the input would still show in the peak.
    tracemalloc.start()
    try:
        for data, copies in ((a, 0), (np.repeat(a, 2, axis=1)[:, ::2], 1)):
            tracemalloc.reset_peak()
            held = tracemalloc.get_traced_memory()[0]
            tz.cumsum(data, 2)
            assert (tracemalloc.get_traced_memory()[1] - held >= a.nbytes) == bool(copies)
            assert tz._input_copies() == before + copies
    finally:
        tracemalloc.stop()


def test_results_own_the_host_buffer():
    result = tz.cumsum(A)
    assert type(result.base).__name__ == "PyCapsule" and result.flags.writeable
    live = tz._live_arrays()
    del result
    assert tz._live_arrays() == live - 1


def _rss_pages():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1])


def test_no_leak_over_many_calls():
    gc.collect()
    baseline = tz._live_arrays()
    small = np.asfortranarray(np.arange(12.0).reshape(3, 4))
    for _ in range(2000):  # warm up allocator pools first
        tz.cumsum(small, "reverse")
    rss = _rss_pages()
    for index in range(100_000):
        FUNCS[("cumsum", "cumprod", "cummin", "cummax")[index % 4]](small, 1 + index % 3, "omitnan")
    assert tz._live_arrays() == baseline
    assert _rss_pages() - rss < 2048  # 8 MiB of 4 KiB pages


@pytest.mark.parametrize("op", FUNCS)
@pytest.mark.parametrize(
    "data",
    [np.asfortranarray(np.arange(40.0).reshape(5, 8)), np.eye(6, dtype=bool),
     sp.csc_matrix(np.eye(5))],
)
def test_allocation_failures_raise_memory_error_without_leaks(op, data):
    gc.collect()
    baseline = tz._live_arrays()
    expected = FUNCS[op](data, 2, "reverse")
    outcomes = set()
    try:
        for step in range(1, 12):
            tz._fail_after(step)
            try:
                result = FUNCS[op](data, 2, "reverse")
            except MemoryError:
                outcomes.add("failed")
                continue
            outcomes.add("ok")
            dense = (lambda x: x.toarray() if sp.issparse(x) else x)
            np.testing.assert_array_equal(dense(result), dense(expected))
    finally:
        tz._fail_after(0)
    assert outcomes == {"failed", "ok"}
    del expected, result
    gc.collect()
    assert tz._live_arrays() == baseline


def test_threads_get_what_one_thread_gets():
    rng = np.random.default_rng(7)
    inputs = [np.asfortranarray(rng.normal(size=(600, 700))),
              rng.integers(-9, 9, size=(800, 300)).astype(np.int16)]
    calls = [(f, a, args) for f in FUNCS.values() for a in inputs
             for args in ((), (2, "reverse"), ("omitnan",))]
    expected = [f(a, *args) for f, a, args in calls]
    barrier = threading.Barrier(8)
    mismatches = []

    def worker(seed):
        barrier.wait()
        for index in np.random.default_rng(seed).permutation(len(calls)).tolist() * 2:
            f, a, args = calls[index]
            if f(a, *args).tobytes() != expected[index].tobytes():
                mismatches.append(index)

    threads = [threading.Thread(target=worker, args=(seed,)) for seed in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert mismatches == []


def test_gateways_run_without_the_gil():
    # While a long call runs, the main thread keeps ticking only if the GIL was let go; holding
    # it would allow about one tick per call, between calls.
    x = np.asfortranarray(np.ones((2000, 2000)))
    calls, ticks = 5, 0
    worker = threading.Thread(target=lambda: [tz.cumsum(x, 2) for _ in range(calls)])
    worker.start()
    while worker.is_alive():
        ticks += 1
        time.sleep(0.0005)
    assert ticks > 4 * calls
