"""Test hooks into the stand-in host and the package's input copies; not part of tzcumfun's API."""

# Host arrays alive in this process; an allocation failure armed n allocations ahead (0 disarms);
# allocations left before it fires; how many array inputs the package copied so far (C- and
# Fortran-ordered ones never are).
from ._tzcumfun import fail_after, fault_countdown, input_copies, live_arrays  # noqa: F401

# The instruction level of later scans: forced to one ("baseline", "v3", "v4"; RuntimeError where
# the processor lacks it), or with "" chosen from the processor and TZCUMFUN_CPU again.
from ._tzcumfun import cpu_level as force_cpu_level  # noqa: E402,F401
