"""C- and Fortran-ordered input: read in place, the same bits either way."""
import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings, strategies as st
from hypothesis.extra import numpy as hnp

import tzcumfun as tz
from tzcumfun import _testing as hooks

FUNCS = [tz.cumsum, tz.cumprod, tz.cummin, tz.cummax]
ARRAYS = st.sampled_from("? f8 f4 c16 c8 i1 u1 i2 u2 i4 u4 i8 u8".split()).flatmap(
    lambda t: hnp.arrays(t, hnp.array_shapes(min_dims=2, max_dims=4, min_side=0, max_side=5)))
# Dimensions valid, past the last and refused, and option words.
ARGUMENTS = st.one_of(st.tuples(st.sampled_from([1, 2, 3, 7, 0, 2.5, np.int64(2)]), st.just("r")),
                      st.lists(st.sampled_from(["f", "Rev", "includenan", "omitm"]), max_size=3))
AxisError = getattr(np, "exceptions", np).AxisError


def level_param(level):
    """An instruction level to run at, marked to skip where this processor lacks it."""
    try:
        hooks.force_cpu_level(level)
        return level
    except RuntimeError:
        return pytest.param(level, marks=pytest.mark.skip(reason=f"this processor lacks {level}"))
    finally:
        hooks.force_cpu_level("")


@pytest.fixture(params=[level_param(level) for level in ("baseline", "v3", "v4")])
def level(request):
    hooks.force_cpu_level(request.param)
    yield request.param
    hooks.force_cpu_level("")


def outcome(f, a, args, kwargs=None, data=None):
    try:
        got = f(a if data is None else data, *args, **(kwargs or {}))
    except tz.KorvexError as err:
        return err.identifier
    except AxisError as err:
        return str(err)
    order = got.flags.c_contiguous == a.flags.c_contiguous
    return got.dtype, got.shape, any_nan(f, got).tobytes(), order


def any_nan(f, got):
    """`got` with every NaN of a sum or product made one: where two NaNs meet, the hardware picks
    the survivor, and the layouts pick differently."""
    if f in (tz.cumsum, tz.cumprod) and got.dtype.kind in "fc":
        return np.where(np.isnan(got), np.nan, got)
    return got


@settings(max_examples=400, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(ARRAYS, st.sampled_from(FUNCS), ARGUMENTS, st.none() | st.integers(-5, 4), st.booleans())
def test_c_and_fortran_copies_and_python_converted_arguments_give_the_same_bits(
        level, a, f, args, axis, reverse):
    kwargs = None if axis is None else {"axis": axis, "reverse": reverse, "nan": "omit"}
    args, copies, fortran = () if kwargs else args, hooks.input_copies(), np.asfortranarray(a)
    expected = outcome(f, a, args, kwargs)
    assert outcome(f, fortran, args, kwargs) == expected
    hooks.force_cpu_level("baseline")  # every level gives the baseline kernels' bits
    assert outcome(f, a, args, kwargs) == expected
    hooks.force_cpu_level(level)
    assert hooks.input_copies() == copies
    # Arguments only the package's Python code converts take the call off the extension's own
    # path; a memoryview becomes the same ndarray, a list a 1-by-1 array, a string a text scalar.
    python_args = tuple(tz.string(x) if isinstance(x, str) else [x] for x in args)
    assert outcome(f, a, python_args, kwargs, memoryview(a)) == expected


def test_mapped_files_are_read_in_place_and_odd_buffers_copied_once(tmp_path):
    np.save(tmp_path / "a.npy", base := np.arange(60.0).reshape(3, 4, 5))  # a write would fault
    for a, copies in [(np.load(tmp_path / "a.npy", mmap_mode="r"), 0), (base[:, ::2], 1),
                      (base.astype(">f8"), 1)]:
        before = hooks.input_copies()
        np.testing.assert_array_equal(tz.cumsum(a, axis=2), np.cumsum(a, 2))
        np.testing.assert_array_equal(tz.call("cummax", 1, a, np.int8(1), "rev"), a[[2, 2, 2]])
        assert hooks.input_copies() - before == 2 * copies
        # A dimension only the host reads: the host may hand back its input unchanged.
        past_last = tz.call("cumprod", 1, a, [4])
        assert not np.shares_memory(past_last, a) and past_last.flags.writeable


@settings(max_examples=400)
@given(ARRAYS, st.sampled_from(FUNCS), ARGUMENTS, st.none() | st.integers(-2, 1),
       st.sampled_from(["C", "F", "strided"]),
       st.sampled_from(["C", "F", "in place", "overlapping"]), st.booleans(), st.integers(-6, 6))
def test_out_takes_the_plain_calls_bits_or_keeps_what_it_held(a, f, args, axis, layout, into,
                                                              view, fault):
    kwargs = {} if axis is None else {"axis": axis}
    args = () if kwargs else args
    try:
        plain = f(a, *args, **kwargs)
    except (tz.KorvexError, AxisError) as err:
        plain = err
    failed = isinstance(plain, Exception)
    dtype = a.dtype if a.dtype.kind == "c" or failed else plain.dtype
    src = np.stack([a, a], -1)[..., 0] if layout == "strided" else a.copy(layout)
    in_place = into == "in place" and dtype == a.dtype and layout != "strided"
    out = src if in_place else np.full(a.shape, 7, dtype, "F" if into == "F" else "C")
    overlapping = into == "overlapping" and dtype == a.dtype and a.size > 1
    if overlapping:  # out starts one element into the input's own buffer
        order = "F" if layout == "F" else "C"
        storage = np.append(a.ravel(order), a.flat[:1])
        src, out = (storage[part].reshape(a.shape, order=order) for part in (np.s_[:-1], np.s_[1:]))
    watched = storage if overlapping else out
    before = watched.tobytes()
    data = memoryview(src) if view and layout != "strided" else src  # the package's Python path
    hooks.fail_after(max(fault, 0))  # a failed host allocation loses nothing either
    try:
        got = f(data, *args, **kwargs, out=out)
    except (MemoryError, ValueError) as err:  # Korvex errors and AxisError are ValueErrors
        assert watched.tobytes() == before
        assert failed or isinstance(err, MemoryError) or (
            overlapping and "shares memory with the input" in str(err))
        return
    finally:
        hooks.fail_after(0)
    assert not failed and not overlapping and got is out
    if dtype.kind == "c":  # the host's form drops an all-zero imaginary part and its sign of zero
        other = np.empty(a.shape, dtype, "C" if out.flags.f_contiguous else "F")
        assert any_nan(f, f(a, *args, **kwargs, out=other)).tobytes() == any_nan(f, out).tobytes()
        assert np.array_equal(out.imag, plain.imag, equal_nan=True)
        out, plain = out.real, plain.real
    assert any_nan(f, out).tobytes() == any_nan(f, plain).tobytes()
