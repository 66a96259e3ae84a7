# Type stubs of the tzcumfun package: Korvex's cumulative functions for NumPy.
from typing import Any, Literal, Protocol, Sequence, Union, overload

import numpy as np
import numpy.typing as npt

_Data = Union[npt.ArrayLike, "string", str, Any]
_Argument = Union[str, "string", int, float, bool, np.generic, npt.ArrayLike, Any]
_NaN = Literal["include", "omit"]

__all__ = ["KorvexError", "KorvexTypeError", "call", "cpu_level", "cummax", "cummin", "cumprod",
           "cumsum", "string"]

class KorvexError(ValueError):
    message: str
    identifier: str
    catalog: str
    key: str
    def __init__(
        self, message: str, identifier: str = ..., catalog: str = ..., key: str = ...
    ) -> None: ...

class KorvexTypeError(KorvexError, TypeError): ...

class string:
    values: np.ndarray
    def __init__(self, values: Union[str, None, Sequence[Any], np.ndarray]) -> None: ...

class _Cumulative(Protocol):
    # cumsum, cumprod, cummin and cummax: an ndarray gives an ndarray of its own shape, C-ordered
    # for C-ordered input; sparse input gives SciPy's CSC kind. `dtype` (keyword form) converts
    # the input once and runs the scan in it.
    @overload
    def __call__(
        self,
        A: np.ndarray,
        *args: _Argument,
        axis: int | None = ...,
        reverse: bool | None = ...,
        nan: _NaN | None = ...,
        out: np.ndarray | None = ...,
        dtype: npt.DTypeLike = ...,
    ) -> np.ndarray: ...
    @overload
    def __call__(
        self,
        A: _Data,
        *args: _Argument,
        axis: int | None = ...,
        reverse: bool | None = ...,
        nan: _NaN | None = ...,
        out: np.ndarray | None = ...,
        dtype: npt.DTypeLike = ...,
    ) -> Any: ...

cumsum: _Cumulative
cumprod: _Cumulative
cummin: _Cumulative
cummax: _Cumulative

def call(name: Literal["cumsum", "cumprod", "cummin", "cummax"], nargout: int, *args: _Argument) -> Any: ...
def cpu_level() -> Literal["baseline", "v3", "v4"]: ...
