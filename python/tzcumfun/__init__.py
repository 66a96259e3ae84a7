"""Korvex's cumulative functions for NumPy: cumsum, cumprod, cummin and cummax.

Each function takes the host's call form::

    cumsum(A)                        # along the first dimension whose length is not 1
    cumsum(A, 2)                     # along dimension 2 (the host counts from 1)
    cumsum(A, "reverse", "omitnan")  # option words, abbreviable, any case
    cumsum(A, 3, "rev", "includemissing")

or NumPy-style keywords, never both at once::

    cumsum(A, axis=1, reverse=True, nan="omit", dtype=np.int64)

Which rules hold depends on the form a call is written in:

=====================================  ====================  ================================
rule                                   host form             keywords, and tzcumfun.dask
=====================================  ====================  ================================
dimension or axis past the last        a singleton: ``A``    ``AxisError``
negative dimension or axis             refused by the host   from the end, down to ``-ndim``
axis below ``-ndim``                   -                     ``AxisError``
complex result, imaginary parts all 0  comes back real       stays complex, bits as scanned
``out=``                               the keyword column    the keyword column
=====================================  ====================  ================================

The host form is ``(A, dim, words...)``; keywords are ``axis``, ``reverse``, ``nan`` and
``dtype``. With nothing to scan (an axis of length 1, a 0-d array, a dimension past the last)
the result is a copy of ``A``, in the keyword form and with ``out=`` to the bit, signs of zero
included.

``A.shape`` gives the host array's dimensions in column-major element order. A 1-D array of
length n is a 1-by-n row and a 0-d array or Python scalar is 1-by-1; every result has ``A``'s
own shape. A C- or Fortran-ordered array is read in place, never copied or written; results own
the host's buffer, are plain ndarrays (an ndarray subclass is read as its base ndarray) and are
C-ordered for C-ordered input, Fortran-ordered otherwise. Masked arrays are refused with a
TypeError: their mask would be lost.

Errors the library or the host raises arrive as :class:`KorvexError`, a ValueError carrying the
host's identifier and message id; refusals of the data's type (``wrongInput``,
``complexIntegers``) are :class:`KorvexTypeError`, also a TypeError.
"""

from __future__ import annotations

import inspect
import operator
import sys

import numpy as np

from . import _tzcumfun as _ext

__all__ = ["KorvexError", "KorvexTypeError", "call", "cpu_level", "cummax", "cummin", "cumprod",
           "cumsum", "string"]

# The operations in the core's table, numbered by their place in it.
_OPERATIONS = {name: number for number, name in enumerate(_ext.operations)}


class KorvexError(ValueError):
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


class KorvexTypeError(KorvexError, TypeError):
    """A refusal of the data's type (``wrongInput``, ``complexIntegers``): also a TypeError."""


_ext.set_error_types(KorvexError, KorvexTypeError)


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




def _holds_text(elements: np.ndarray) -> bool:
    return all(item is None or isinstance(item, str) for item in elements.flat)


def _text_array(elements: np.ndarray):
    values = [
        None if item is None else str(item).encode("utf-16-le", "surrogatepass")
        for item in elements.ravel(order="F")
    ]
    return _ext.string_array(values, elements.shape)


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


def _prepared(value):
    """One argument as the extension's resolver takes it: as it is, when the resolver converts it
    itself (ndarrays, NumPy scalars, str, bool, int, float), else a host array of text or SciPy
    sparse data, or the ndarray NumPy makes of it."""
    if isinstance(value, string):
        return _text_array(value.values)
    if _sparse_module(value) is not None:
        return _host_sparse(value)
    if isinstance(value, (str, int, float, np.generic)):
        return value
    array = value if isinstance(value, np.ndarray) else np.asarray(value)
    kind = array.dtype.kind
    if kind == "U" or (kind == "O" and _holds_text(array)):
        return _text_array(array)
    return array


def _wrap_sparse(parts, template):
    sparse = sys.modules["scipy.sparse"]
    rows, cols, col_starts, row_indices, values = parts
    as_array = template is None or _is_sparse_array(sparse, template)
    kind = sparse.csc_array if as_array else sparse.csc_matrix
    return kind((values, row_indices, col_starts), shape=(rows, cols))


def _run(op: int, nargout: int, args: tuple, axis=None, reverse=None, nan=None, out=None,
         dtype=None):
    result = _ext.run(op, nargout, [_prepared(value) for value in args], axis, reverse, nan, out,
                      dtype)
    if isinstance(result, tuple):
        template = args[0] if args and _sparse_module(args[0]) is not None else None
        return _wrap_sparse(result, template)
    return result


def _operation(name: str) -> int:
    try:
        return _OPERATIONS[name]
    except (KeyError, TypeError):
        expected = ", ".join(_OPERATIONS)
        raise ValueError(f"unknown function {name!r}; expected one of {expected}") from None


def _resolve(name: str, shape: tuple, prototype, args: tuple, axis, reverse, nan):
    """The scan a call on an array of ``shape`` makes, in NumPy's terms, with ``prototype`` (an
    ndarray of its dtype) standing for the data: (axis or None, forward, NaN flag, dtype)."""
    prepared = [_prepared(value) for value in args]
    return _ext.resolve(_operation(name), _prepared(prototype), shape, prepared, axis, reverse, nan)


def _cumulative(name: str, A, args: tuple, axis, reverse, nan, out, dtype):
    return _run(_OPERATIONS[name], 1, (A, *args), axis, reverse, nan, out, dtype)


def cumsum(A, *args, axis=None, reverse=None, nan=None, out=None, dtype=None):
    """Cumulative sum of ``A``, exact to the bit and in the element's own precision.

    ``args`` is the host's form: an optional dimension (counted from 1), then option words
    ``"forward"``/``"reverse"`` and ``"includenan"``/``"omitnan"`` (or ``"includemissing"``/
    ``"omitmissing"``), abbreviable and in any case; a dimension past the last is a singleton,
    so ``A`` comes back as it is. The keywords ``axis`` (0-based: axis k is dimension k+1;
    negative axes count from the end, and a 1-D array's only axis is the row it forms),
    ``reverse`` (bool) and ``nan`` (``"include"`` or ``"omit"``) say the same in NumPy's terms,
    with NumPy's rules: an axis outside ``-ndim..ndim-1`` raises ``AxisError``. ``dtype`` (any
    NumPy dtype the host has a class for: bool, the integers of 8 to 64 bits, float32, float64,
    complex64, complex128) converts ``A`` once and runs the scan in it, so an int8 array summed
    with ``dtype=np.int64`` saturates at int64's limits; another dtype raises TypeError. The
    keywords cannot be mixed with ``args``. The default scans the first dimension whose length is not 1, which for a
    1-D array is the array itself.

    Logical data sums to double; integers saturate at their class's limits at every step; NaN is
    included unless omitted, in which case it counts as 0. In the host form a complex result
    whose imaginary parts are all zero comes back real; with keywords the dtype follows the
    input's alone. A C- or Fortran-ordered array is read in place and the result has its order;
    sparse input (SciPy, float64, complex128 or bool) returns the same SciPy kind in CSC form.
    Masked arrays are refused. Errors raise :class:`KorvexError`.

    ``out``, with either form, is an ndarray of ``A``'s shape and of the dtype the result takes
    with keywords (a complex input's result stays complex; with ``dtype``, the result of data of
    that dtype), C- or Fortran-contiguous, aligned,
    native and writable; the scan writes into it and the call returns it. Given in ``A``'s element
    order (C for C-ordered input, Fortran otherwise) it is written directly, with no temporary;
    ``out=A`` scans in place. An ``out`` that cannot take the result, or that overlaps ``A``
    without being it, is refused before anything is written, as is ``out`` with sparse input.
    """
    return _cumulative("cumsum", A, args, axis, reverse, nan, out, dtype)


def cumprod(A, *args, axis=None, reverse=None, nan=None, out=None, dtype=None):
    """Cumulative product of ``A``; arguments, keywords and results as in :func:`cumsum`.

    Integers saturate at their class's limits at every step; an omitted NaN counts as 1.
    """
    return _cumulative("cumprod", A, args, axis, reverse, nan, out, dtype)


def cummin(A, *args, axis=None, reverse=None, nan=None, out=None, dtype=None):
    """Cumulative minimum of ``A``; arguments and keywords as in :func:`cumsum`.

    NaN is omitted by default (``nan="include"`` lets it propagate); logical data stays logical.
    Complex values are ordered by magnitude, then by phase angle.
    """
    return _cumulative("cummin", A, args, axis, reverse, nan, out, dtype)


def cummax(A, *args, axis=None, reverse=None, nan=None, out=None, dtype=None):
    """Cumulative maximum of ``A``; arguments and keywords as in :func:`cumsum`.

    NaN is omitted by default (``nan="include"`` lets it propagate); logical data stays logical.
    Complex values are ordered by magnitude, then by phase angle.
    """
    return _cumulative("cummax", A, args, axis, reverse, nan, out, dtype)


def _entry_point(function):
    # The extension resolves and runs calls itself, with no Python code on the way to the gateway,
    # and passes on to `function` those with arguments only Python converts.
    name = function.__name__
    signature = "A, *args, axis=None, reverse=None, nan=None, out=None, dtype=None"
    doc = f"{name}({signature})\n--\n\n{inspect.getdoc(function)}"
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
    return _run(_operation(name), count, args)


def cpu_level() -> str:
    """The instruction level the scans run at: ``"baseline"``, ``"v3"`` (x86-64-v3, AVX2) or
    ``"v4"`` (x86-64-v4, AVX-512), the widest this processor runs unless ``TZCUMFUN_CPU`` caps it."""
    return _ext.cpu_level()
