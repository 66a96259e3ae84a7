"""Korvex's cumulative functions on xarray objects, along a dimension named rather than counted.

``cumsum``, ``cumprod``, ``cummin`` and ``cummax`` take an ``xarray.DataArray`` or ``Dataset`` and
the name of the dimension to scan::

    import tzcumfun.xarray as tzx
    tzx.cumsum(temperature, "time", reverse=True, nan="omit")

The result keeps the input's dimension order, coordinates, name and attributes, and its values are
bit for bit those of :func:`tzcumfun.cumsum` along the same axis of the data. Without a dimension,
as in xarray's own ``cumsum()``, a variable is scanned along every one of its dimensions in turn,
in its own dimension order. Calls are made in NumPy's terms, so the dtype is the data's (a complex
result stays complex) whether the data is in memory or on Dask. A ``Dataset`` scans each data
variable that has the dimension (every data variable when none is named) and keeps the others as
they are. Dask-backed variables stay lazy and are scanned by :mod:`tzcumfun.dask`.

An unknown dimension raises xarray's ``ValueError``; the library's refusals are
:class:`tzcumfun.KorvexError` as in every other call.
"""

from __future__ import annotations

from typing import Hashable, Literal, Optional, TypeVar

import xarray as xr

import tzcumfun as _tz

__all__ = ["cummax", "cummin", "cumprod", "cumsum"]

_Object = TypeVar("_Object", xr.DataArray, xr.Dataset)
_NaN = Optional[Literal["include", "omit"]]


def _scanned(name: str, variable: xr.Variable, dim: Optional[Hashable], keywords: dict):
    """The scanned data of one variable: a NumPy array, or a lazy Dask array for Dask data."""
    if variable.chunks is not None:
        from . import dask as _tzd  # Dask is needed only by callers who hold Dask data

        function = getattr(_tzd, name)
    else:
        function = getattr(_tz, name)
    if dim is not None:
        return function(variable.data, axis=variable.get_axis_num(dim), **keywords)
    # No dimension named: every dimension in turn (a 0-d variable is one element along axis 0).
    data = variable.data
    for axis in range(max(variable.ndim, 1)):
        data = function(data, axis=axis, **keywords)
    return data


def _cumulative(name: str, obj, dim, reverse, nan):
    keywords = {"reverse": reverse, "nan": nan}
    if isinstance(obj, xr.DataArray):
        return obj.copy(deep=False, data=_scanned(name, obj.variable, dim, keywords))
    if not isinstance(obj, xr.Dataset):
        raise TypeError(f"tzcumfun.xarray.{name} takes a DataArray or a Dataset, "
                        f"not {type(obj).__name__}")
    if dim is not None and dim not in obj.dims:
        raise ValueError(f"Dataset does not contain the dimensions: {[dim]}")
    variables = {key: array.variable for key, array in obj.data_vars.items()
                 if dim is None or dim in array.dims}
    return obj.assign({key: variable.copy(deep=False, data=_scanned(name, variable, dim, keywords))
                       for key, variable in variables.items()})


def cumsum(obj: _Object, dim: Optional[Hashable] = None, *, reverse: Optional[bool] = None,
           nan: _NaN = None) -> _Object:
    """Cumulative sum along ``dim``; ``reverse`` and ``nan`` as in :func:`tzcumfun.cumsum`."""
    return _cumulative("cumsum", obj, dim, reverse, nan)


def cumprod(obj: _Object, dim: Optional[Hashable] = None, *, reverse: Optional[bool] = None,
            nan: _NaN = None) -> _Object:
    """Cumulative product along ``dim``; ``reverse`` and ``nan`` as in :func:`tzcumfun.cumprod`."""
    return _cumulative("cumprod", obj, dim, reverse, nan)


def cummin(obj: _Object, dim: Optional[Hashable] = None, *, reverse: Optional[bool] = None,
           nan: _NaN = None) -> _Object:
    """Cumulative minimum along ``dim``; ``reverse`` and ``nan`` as in :func:`tzcumfun.cummin`."""
    return _cumulative("cummin", obj, dim, reverse, nan)


def cummax(obj: _Object, dim: Optional[Hashable] = None, *, reverse: Optional[bool] = None,
           nan: _NaN = None) -> _Object:
    """Cumulative maximum along ``dim``; ``reverse`` and ``nan`` as in :func:`tzcumfun.cummax`."""
    return _cumulative("cummax", obj, dim, reverse, nan)
