"""Korvex's cumulative functions on Dask arrays, bit for bit the in-memory call's result.

``cumsum``, ``cumprod``, ``cummin`` and ``cummax`` take a ``dask.array.Array`` and the same call
forms and keywords as :mod:`tzcumfun`, and return a lazy array with the input's shape and chunks::

    import tzcumfun.dask as tzd
    Y = tzd.cumsum(X, axis=1, reverse=True)       # nothing runs yet
    Y.compute()                                   # == tzcumfun.cumsum(X.compute(), ...) bitwise

Blocks that differ only along the other axes are scanned independently. Along the scanned axis
each block waits for one slice from its neighbour, the running values that block ended with, and
continues every vector from there, so the steps taken are exactly those of one long scan. Bad
arguments raise the in-memory call's error when the graph is built, before anything runs.

Calls keep NumPy's rules, as the in-memory call with keywords does: an ``axis`` outside
``-ndim..ndim-1`` raises ``AxisError``, and complex results stay complex even in the host's call
form, where the in-memory call returns real data when every imaginary part came out zero: a lazy
array's dtype must be known before its values are. Masked arrays are refused, as in memory.
"""

from __future__ import annotations

import math

import dask.array as da
import numpy as np
from dask.base import tokenize
from dask.highlevelgraph import HighLevelGraph

import tzcumfun as _tz

from . import _tzcumfun_dask as _kernels

__all__ = ["cummax", "cummin", "cumprod", "cumsum"]



def _scan_block(block, carry, op, omit, forward, axis, dtype):
    if isinstance(block, np.ma.MaskedArray):
        raise TypeError(_tz._ext.masked_refusal)
    block = np.asarray(block)
    # Logical bytes other than 0 and 1 would not be logical values to the library.
    if block.dtype.kind == "b" and block.size and block.view(np.uint8).max() > 1:
        block = block.view(np.uint8) != 0
    # Blocks arrive as they were stored or sent. Either memory order is scanned in place; views
    # and buffers that a transfer left at odd addresses are copied first.
    fortran = block.flags.f_contiguous or (block.ndim > 1 and block.strides[0] < block.strides[-1])
    order = "F" if fortran else "C"
    block = np.require(block, block.dtype.newbyteorder("="), [order, "ALIGNED"])
    if carry is not None:
        carry = np.require(carry, dtype, [order, "ALIGNED"])
    return _kernels.scan_block(op, int(omit), forward, block, axis, carry, dtype)


def _edge(result, carry, axis, forward):
    """The running values a block hands on: its last visited slice, or, if it has none, the
    values it was handed."""
    if result.shape[axis] == 0:
        return carry
    return np.take(result, -1 if forward else 0, axis)


def _cumulative(name: str, A, args: tuple, keywords: dict):
    A = da.asarray(A)
    if any(math.isnan(length) for length in A.shape):
        raise ValueError(f"tzcumfun.dask.{name} needs known chunk sizes; call compute_chunk_sizes()")
    # The meta block stands for the data: its dtype, and whether it is masked.
    axis, forward, omit, dtype = _tz._resolve(name, A.shape, A._meta, args, **keywords)
    op = _tz._OPERATIONS[name]
    token = tokenize(A, op, axis, forward, omit)
    out_name = f"tzcumfun-{name}-{token}"
    edge_name = f"tzcumfun-{name}-edge-{token}"
    graph = {}
    for index in np.ndindex(*A.numblocks):
        carry = None
        if axis is not None:
            count = A.numblocks[axis]
            before = index[axis] - 1 if forward else index[axis] + 1
            if 0 <= before < count:
                carry = (edge_name, *index[:axis], before, *index[axis + 1 :])
            after = index[axis] + 1 if forward else index[axis] - 1
            if 0 <= after < count:
                graph[(edge_name, *index)] = (_edge, (out_name, *index), carry, axis, forward)
        graph[(out_name, *index)] = (
            _scan_block, (A.name, *index), carry, op, omit, forward, axis, dtype)
    layers = HighLevelGraph.from_collections(out_name, graph, dependencies=[A])
    return da.Array(layers, out_name, chunks=A.chunks, meta=np.empty((0,) * A.ndim, dtype))


def cumsum(A, *args, axis=None, reverse=None, nan=None):
    """Cumulative sum of the Dask array ``A``; arguments as in :func:`tzcumfun.cumsum`."""
    return _cumulative("cumsum", A, args, {"axis": axis, "reverse": reverse, "nan": nan})


def cumprod(A, *args, axis=None, reverse=None, nan=None):
    """Cumulative product of the Dask array ``A``; arguments as in :func:`tzcumfun.cumprod`."""
    return _cumulative("cumprod", A, args, {"axis": axis, "reverse": reverse, "nan": nan})


def cummin(A, *args, axis=None, reverse=None, nan=None):
    """Cumulative minimum of the Dask array ``A``; arguments as in :func:`tzcumfun.cummin`."""
    return _cumulative("cummin", A, args, {"axis": axis, "reverse": reverse, "nan": nan})


def cummax(A, *args, axis=None, reverse=None, nan=None):
    """Cumulative maximum of the Dask array ``A``; arguments as in :func:`tzcumfun.cummax`."""
    return _cumulative("cummax", A, args, {"axis": axis, "reverse": reverse, "nan": nan})
