"""tzcumfun.xarray: the package's scans along named dimensions, metadata kept, Dask data lazy."""

import numpy as np
import pytest
import xarray as xr

import tzcumfun as tz
import tzcumfun.xarray as tzx


def sample():
    values = np.random.default_rng(5).normal(size=(4, 3, 5))
    values[1, 0, 2] = np.nan
    data = xr.DataArray(values, dims=("time", "x", "member"), name="t2m", attrs={"units": "K"},
                        coords={"time": np.arange(4), "x": [10, 20, 30]})
    return xr.Dataset({"t2m": data, "height": ("station", [2.0, 0.5])}, attrs={"source": "test"})


# Dimension, keywords, and the axis the package's own call takes (None: its default rule).
CASES = [("time", {}, 0), ("member", {"reverse": True, "nan": "omit"}, 2),
         ("x", {"nan": "include"}, 1), (None, {"reverse": True}, None)]


@pytest.mark.parametrize("chunked", [False, True])
@pytest.mark.parametrize("name", ["cumsum", "cumprod", "cummin", "cummax"])
@pytest.mark.parametrize("dim, keywords, axis", CASES)
def test_named_dimensions_match_the_package(name, dim, keywords, axis, chunked):
    dataset = sample()
    function, expected = getattr(tz, name), dataset.copy()
    expected["t2m"].values = function(dataset.t2m.values, axis=axis, **keywords)
    if dim is None:  # every data variable, each by its own default rule
        expected["height"].values = function(dataset.height.values, **keywords)
    if chunked:
        dataset = dataset.chunk({"time": 2, "member": 2})
    for given, wanted in ((dataset, expected), (dataset.t2m, expected.t2m)):
        result = getattr(tzx, name)(given, dim, **keywords)
        assert bool(result.chunks) == chunked  # Dask data stays lazy
        xr.testing.assert_identical(result.compute(), wanted)
    assert result.values.tobytes() == wanted.values.tobytes()


def test_errors():
    with pytest.raises(ValueError, match="'day' not found in array dimensions"):
        tzx.cumsum(sample().t2m, "day")
    with pytest.raises(ValueError, match="does not contain the dimensions"):
        tzx.cummax(sample(), "day")
    with pytest.raises(tz.KorvexError, match="must be a numeric or logical array"):
        tzx.cumsum(xr.DataArray(np.array(["a", "b"]), dims="x"), "x")
