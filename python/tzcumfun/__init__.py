"""Korvex's cumulative functions for NumPy: cumsum, cumprod, cummin and cummax.

Each function takes the host's call form::

    cumsum(A)                        # along the first dimension whose length is not 1
    cumsum(A, 2)                     # along dimension 2 (the host counts from 1)
    cumsum(A, "reverse", "omitnan")  # option words, abbreviable, any case
    cumsum(A, 3, "rev", "includemissing")

or NumPy-style keywords, never both at once::

    cumsum(A, axis=1, reverse=True, nan="omit")

``A.shape`` gives the host array's dimensions in column-major element order. A 1-D array of
length n is a 1-by-n row and a 0-d array or Python scalar is 1-by-1; every result has ``A``'s
own shape. A C- or Fortran-ordered array is read in place, never copied or written; results own
the host's buffer and are C-ordered for C-ordered input, Fortran-ordered otherwise.

Errors the library or the host raises arrive as :class:`KorvexError`, carrying the host's
identifier and message id.
"""

from __future__ import annotations

import inspect
import operator
import sys
import threading

import numpy as np

from . import _tzcumfun as _ext

__all__ = ["KorvexError", "call", "cummax", "cummin", "cumprod", "cumsum", "string"]

_OPERATIONS = {"cumsum": 0, "cumprod": 1, "cummin": 2, "cummax": 3}
_NUMERIC_SIZES = {"b": (1,), "f": (4, 8), "c": (8, 16), "i": (1, 2, 4, 8), "u": (1, 2, 4, 8)}


class KorvexError(Exception):
    """An error raised by the host or the library, as the host reports it.

    ``identifier`` names the error (``"Korvex:cumprod:duplicateNaNFlag"``), ``catalog`` and
    ``key`` form its message id, and ``str(err)`` is the catalog's message.
    """

    def __init__(self, message: str, identifier: str = "", catalog: str = "", key: str = ""):
        super().__init__(message)
        self.message = message
        self.identifier = identifier
        self.catalog = catalog
        self.key = key

    def __str__(self) -> str:
        return self.message

    def __reduce__(self):
        return (type(self), (self.message, self.identifier, self.catalog, self.key))


_ext.set_error_type(KorvexError)


class string:
    """A host string array: each element a ``str``, or ``None`` for a missing element.

    ``string("rev")`` is a 1-by-1 string, ``string(["f", None])`` a 1-by-2 string array; nested
    lists and arrays give their own shape, read like any other array.
    """

    __slots__ = ("values",)

    def __init__(self, values):
        if values is None or isinstance(values, str):
            elements = np.empty((), dtype=object)
            elements[()] = values
        else:
            elements = np.array(values, dtype=object)
        if not _holds_text(elements):
            raise TypeError("tzcumfun.string holds only str or None elements")
        self.values = elements

    def __repr__(self) -> str:
        return f"tzcumfun.string({self.values.tolist()!r})"


_copy_lock = threading.Lock()
_copies = 0


def _holds_text(elements: np.ndarray) -> bool:
    return all(item is None or isinstance(item, str) for item in elements.flat)


def _check_dtype(dtype: np.dtype) -> None:
    if dtype.fields is not None or dtype.itemsize not in _NUMERIC_SIZES.get(dtype.kind, ()):
        raise TypeError(f"tzcumfun does not support dtype {dtype}")


def _text_array(elements: np.ndarray):
    values = [
        None if item is None else str(item).encode("utf-16-le", "surrogatepass")
        for item in elements.ravel(order="F")
    ]
    return _ext.string_array(values, elements.shape)


def _host_order(array: np.ndarray) -> np.ndarray:
    """The array itself when the host can read its buffer in place, else a Fortran-ordered copy."""
    global _copies
    flags = array.flags
    # The host's logical bytes hold 0 or 1, while a NumPy bool array made from a buffer or a view
    # may hold any byte; such an array goes over as a normalised copy.
    odd_bools = array.dtype.kind == "b" and array.size > 0 and array.view(np.uint8).max() > 1
    contiguous = flags.f_contiguous or flags.c_contiguous
    if contiguous and flags.aligned and array.dtype.isnative and not odd_bools:
        return array
    with _copy_lock:
        _copies += 1
    if odd_bools:
        return np.asfortranarray(array.view(np.uint8) != 0)
    return np.array(array, dtype=array.dtype.newbyteorder("="), order="F")


def _sparse_module(value):
    # SciPy is imported only by callers who use it; its objects cannot exist without it.
    sparse = sys.modules.get("scipy.sparse")
    return sparse if sparse is not None and sparse.issparse(value) else None


def _is_sparse_array(sparse, value) -> bool:
    sparray = getattr(sparse, "sparray", None)
    if sparray is not None:
        return isinstance(value, sparray)
    return bool(getattr(value, "_is_array", False))  # SciPy before 1.11


def _host_sparse(value):
    if value.dtype not in (np.float64, np.complex128, np.bool_):
        raise TypeError(f"tzcumfun does not support sparse dtype {value.dtype}")
    csc = value.tocsc()
    if not csc.has_canonical_format:
        csc = csc.copy()
        csc.sum_duplicates()
    rows, cols = csc.shape
    return _ext.sparse(
        rows,
        cols,
        np.ascontiguousarray(csc.indptr, dtype=np.int64),
        np.ascontiguousarray(csc.indices, dtype=np.int64),
        np.ascontiguousarray(csc.data),
    )


def _to_host(value):
    """The host array for one argument, and the NumPy shape a result built from it takes."""
    if isinstance(value, np.ndarray):
        array = value
    elif isinstance(value, str):
        return _ext.char_row(value.encode("utf-16-le", "surrogatepass")), None
    elif isinstance(value, bool):
        return _ext.logical_scalar(value), ()
    elif isinstance(value, (int, float)):
        try:
            number = float(value)
        except OverflowError:  # an int beyond every double: the host refuses it like Inf
            number = float("inf") if value > 0 else float("-inf")
        return _ext.double_scalar(number), ()
    elif isinstance(value, np.generic):
        array = np.asarray(value)
    elif isinstance(value, string):
        return _text_array(value.values), None
    elif _sparse_module(value) is not None:
        return _host_sparse(value), None
    else:
        array = np.asarray(value)
    kind = array.dtype.kind
    if kind == "U" or (kind == "O" and _holds_text(array)):
        return _text_array(array), None
    _check_dtype(array.dtype)
    return _ext.numeric(_host_order(array)), array.shape


def _wrap_sparse(parts, template):
    sparse = sys.modules["scipy.sparse"]
    rows, cols, col_starts, row_indices, values = parts
    as_array = template is None or _is_sparse_array(sparse, template)
    kind = sparse.csc_array if as_array else sparse.csc_matrix
    return kind((values, row_indices, col_starts), shape=(rows, cols))


def _invoke(name: str, nargout: int, args: tuple):
    try:
        op = _OPERATIONS[name]
    except (KeyError, TypeError):
        expected = ", ".join(_OPERATIONS)
        raise ValueError(f"unknown function {name!r}; expected one of {expected}") from None
    converted = [_to_host(value) for value in args]
    hosts = [host for host, _ in converted]
    shape = converted[0][1] if converted else None
    result = _ext.call(op, nargout, hosts, shape)
    if isinstance(result, tuple):
        template = args[0] if args and _sparse_module(args[0]) is not None else None
        return _wrap_sparse(result, template)
    return result


def _host_dimension(axis, ndim: int) -> int:
    # An axis names one of A's own axes, as in NumPy: negative ones count from the end, and the
    # only axis of a 1-D array, a 1-by-n row for the host, is the host's dimension 2. Past the
    # last axis the host's rule holds: a dimension beyond the last is a singleton.
    if isinstance(axis, (bool, np.bool_)):
        raise TypeError("axis must be an integer, not bool")
    axis = operator.index(axis)
    if axis < 0:
        if axis < -max(ndim, 1):
            raise _AxisError(f"axis {axis} is out of bounds for array of dimension {ndim}")
        axis += max(ndim, 1)
    return 2 if ndim == 1 and axis == 0 else axis + 1


_AxisError = getattr(getattr(np, "exceptions", np), "AxisError", ValueError)


def _keyword_arguments(axis, reverse, nan, ndim: int) -> list:
    words = []
    if axis is not None:
        dimension = _host_dimension(axis, ndim)
        # Exact as int64 where it fits; beyond that, a double the host refuses as too large.
        words.append(np.int64(dimension) if -(2**63) <= dimension < 2**63 else float(dimension))
    if reverse is not None:
        if not isinstance(reverse, (bool, np.bool_)):
            raise TypeError(f"reverse must be a bool, not {type(reverse).__name__}")
        words.append("reverse" if reverse else "forward")
    if nan is not None:
        if nan not in ("include", "omit"):
            raise ValueError(f"nan must be 'include' or 'omit', not {nan!r}")
        words.append(nan + "nan")
    return words


def _cumulative(name: str, A, args: tuple, axis, reverse, nan):
    if axis is not None or reverse is not None or nan is not None:
        if args:
            raise TypeError(
                f"{name}() takes either the host's arguments (dim, option words) or the "
                "keywords axis, reverse and nan, not both"
            )
        ndim = 2 if _sparse_module(A) is not None else np.ndim(A)
        args = tuple(_keyword_arguments(axis, reverse, nan, ndim))
    return _invoke(name, 1, (A, *args))


def cumsum(A, *args, axis=None, reverse=None, nan=None):
    """Cumulative sum of ``A``, exact to the bit and in the element's own precision.

    ``args`` is the host's form: an optional dimension (counted from 1), then option words
    ``"forward"``/``"reverse"`` and ``"includenan"``/``"omitnan"`` (or ``"includemissing"``/
    ``"omitmissing"``), abbreviable and in any case. The keywords ``axis`` (0-based: axis k is
    dimension k+1; negative axes count from the end, and a 1-D array's only axis is the row it
    forms), ``reverse`` (bool) and ``nan`` (``"include"`` or ``"omit"``) say the same in NumPy's
    terms and cannot be mixed with ``args``. The default scans the first dimension whose length
    is not 1, which for a 1-D array is the array itself.

    Logical data sums to double; integers saturate at their class's limits at every step; NaN is
    included unless omitted, in which case it counts as 0. Complex results whose imaginary parts
    are all zero come back real. A C- or Fortran-ordered array is read in place and the result
    has its order; sparse input (SciPy, float64, complex128 or bool) returns the same SciPy kind
    in CSC form. Errors raise :class:`KorvexError`.
    """
    return _cumulative("cumsum", A, args, axis, reverse, nan)


def cumprod(A, *args, axis=None, reverse=None, nan=None):
    """Cumulative product of ``A``; arguments, keywords and results as in :func:`cumsum`.

    Integers saturate at their class's limits at every step; an omitted NaN counts as 1.
    """
    return _cumulative("cumprod", A, args, axis, reverse, nan)


def cummin(A, *args, axis=None, reverse=None, nan=None):
    """Cumulative minimum of ``A``; arguments and keywords as in :func:`cumsum`.

    NaN is omitted by default (``nan="include"`` lets it propagate); logical data stays logical.
    Complex values are ordered by magnitude, then by phase angle.
    """
    return _cumulative("cummin", A, args, axis, reverse, nan)


def cummax(A, *args, axis=None, reverse=None, nan=None):
    """Cumulative maximum of ``A``; arguments and keywords as in :func:`cumsum`.

    NaN is omitted by default (``nan="include"`` lets it propagate); logical data stays logical.
    Complex values are ordered by magnitude, then by phase angle.
    """
    return _cumulative("cummax", A, args, axis, reverse, nan)


def _entry_point(function):
    # The extension runs the ndarray calls of the common forms itself, with no Python code on the
    # way to the gateway, and passes every other call on to `function`.
    name = function.__name__
    doc = f"{name}(A, *args, axis=None, reverse=None, nan=None)\n--\n\n{inspect.getdoc(function)}"
    return _ext.entry_point(_OPERATIONS[name], function, doc)


cumsum = _entry_point(cumsum)
cumprod = _entry_point(cumprod)
cummin = _entry_point(cummin)
cummax = _entry_point(cummax)


def call(name: str, nargout: int, *args):
    """The raw gateway call of ``name`` (``"cumsum"`` ... ``"cummax"``) with any arguments.

    ``nargout`` and the number of ``args`` go to the host unchecked, so that its arity errors
    are reachable: ``call("cumsum", 2)`` raises ``Korvex:TooManyOutputs``. Each argument is
    converted as in :func:`cumsum`. Returns the result, or ``None`` when ``nargout`` is 0.
    """
    # The host's int; counts beyond its range are refused by the host like any count above 1.
    count = max(min(operator.index(nargout), 2**31 - 1), -(2**31))
    return _invoke(name, count, args)
