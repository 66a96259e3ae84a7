# Type stubs of the tzcumfun package: Korvex's cumulative functions for NumPy.
from typing import Any, Literal, Sequence, Union

import numpy as np
import numpy.typing as npt

_Data = Union[npt.ArrayLike, "string", str, Any]
_Argument = Union[str, "string", int, float, bool, np.generic, npt.ArrayLike, Any]
_NaN = Literal["include", "omit"]

__all__ = ["KorvexError", "call", "cummax", "cummin", "cumprod", "cumsum", "string"]

class KorvexError(Exception):
    message: str
    identifier: str
    catalog: str
    key: str
    def __init__(
        self, message: str, identifier: str = ..., catalog: str = ..., key: str = ...
    ) -> None: ...

class string:
    values: np.ndarray
    def __init__(self, values: Union[str, None, Sequence[Any], np.ndarray]) -> None: ...

def cumsum(
    A: _Data,
    *args: _Argument,
    axis: int | None = ...,
    reverse: bool | None = ...,
    nan: _NaN | None = ...,
) -> Any: ...
def cumprod(
    A: _Data,
    *args: _Argument,
    axis: int | None = ...,
    reverse: bool | None = ...,
    nan: _NaN | None = ...,
) -> Any: ...
def cummin(
    A: _Data,
    *args: _Argument,
    axis: int | None = ...,
    reverse: bool | None = ...,
    nan: _NaN | None = ...,
) -> Any: ...
def cummax(
    A: _Data,
    *args: _Argument,
    axis: int | None = ...,
    reverse: bool | None = ...,
    nan: _NaN | None = ...,
) -> Any: ...
def call(name: Literal["cumsum", "cumprod", "cummin", "cummax"], nargout: int, *args: _Argument) -> Any: ...
def _input_copies() -> int: ...
def _live_arrays() -> int: ...
def _fail_after(n: int) -> None: ...
def _fault_countdown() -> int: ...
