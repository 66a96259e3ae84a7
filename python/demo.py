"""A short tour of tzcumfun: the host's cumulative functions called from NumPy."""

import os
import sys

# The source tree's tzcumfun/ has no compiled extension: the installed package (or the build
# tree's, through PYTHONPATH) must win over this script's own directory.
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path = [entry for entry in sys.path if os.path.abspath(entry or os.curdir) != HERE]

import numpy as np  # noqa: E402
import scipy.sparse as sp  # noqa: E402

import tzcumfun as tz  # noqa: E402


def show(title, value):
    text = np.array2string(value) if isinstance(value, np.ndarray) else str(value)
    lines = text.splitlines() or [""]
    print(f"{title:<46}{lines[0]}")
    for line in lines[1:]:
        print(" " * 46 + line)


A = np.array([[1.0, 2.0, 3.0], [4.0, 5.0, 6.0]], order="F")
show("A", A)
show("cumsum(A)            down each column", tz.cumsum(A))
show("cumsum(A, 2, 'reverse')  right to left", tz.cumsum(A, 2, "reverse"))
show("cumsum(A, axis=1, reverse=True)", tz.cumsum(A, axis=1, reverse=True))

x = np.array([1.0, np.nan, 2.0, np.nan, 3.0])
show("x", x)
show("cumsum(x)            NaN carries on", tz.cumsum(x))
show("cumsum(x, 'omitnan') NaN passed over", tz.cumsum(x, "omitnan"))
show("cummax(x)            omits NaN by default", tz.cummax(x))
show("cummax(x, 'includenan')", tz.cummax(x, "includenan"))

i8 = np.array([100, 100, -100, -100, -100], dtype=np.int8)
show("int8 data", i8)
show("cumsum: saturates at every step", tz.cumsum(i8))
show("NumPy's np.cumsum(dtype=int8) wraps", np.cumsum(i8, dtype=np.int8))

z = np.array([1, 2j, -2, -2j, 2, 1 + 1j])
show("complex z", z)
show("cummax(z): magnitude, then phase angle", tz.cummax(z))
show("abs(z)", np.abs(z))
show("angle(z)", np.round(np.angle(z), 3))

S = sp.csc_array(np.array([[1.0, 0.0, 2.0], [0.0, 0.0, 3.0]]))
result = tz.cumsum(S, 2)
show("cumsum(sparse S, 2) -> " + type(result).__name__, result.toarray())

try:
    tz.cumprod(A, "omitnan", "includenan")
except tz.KorvexError as err:
    show("cumprod(A, 'omitnan', 'includenan')", f"{err.identifier}: {err}")
