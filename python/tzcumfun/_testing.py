"""Test hooks into the stand-in host and the package's input copies; not part of tzcumfun's API."""

from __future__ import annotations

import tzcumfun

# Host arrays alive in this process; an allocation failure armed n allocations ahead (0 disarms);
# allocations left before it fires.
from ._tzcumfun import fail_after, fault_countdown, live_arrays  # noqa: F401


def input_copies() -> int:
    """How many array inputs the package copied so far (C- and Fortran-ordered ones never are)."""
    return tzcumfun._copies
