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


def along(function, values, axis, keywords):
    """The package's call along `axis`, or, for None, along every axis in turn."""
    for each in range(values.ndim) if axis is None else (axis,):
        values = function(values, axis=each, **keywords)
    return values


# Dimension, keywords, and the axis the package's own call takes (None: every axis in turn).
CASES = [("time", {}, 0), ("member", {"reverse": True, "nan": "omit"}, 2),
         ("x", {"nan": "include"}, 1), (None, {"reverse": True}, None)]


@pytest.mark.parametrize("chunked", [False, True])
@pytest.mark.parametrize("name", ["cumsum", "cumprod", "cummin", "cummax"])
@pytest.mark.parametrize("dim, keywords, axis", CASES)
def test_named_dimensions_match_the_package(name, dim, keywords, axis, chunked):
    dataset = sample()
    function, expected = getattr(tz, name), dataset.copy()
    expected["t2m"].values = along(function, dataset.t2m.values, axis, keywords)
    if dim is None:  # every data variable, along each of its dimensions
        expected["height"].values = along(function, dataset.height.values, None, keywords)
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


def test_no_dimension_is_xarrays_rule_and_the_dtype_is_the_datas_wherever_it_lives():
    data = xr.DataArray(np.arange(6.0).reshape(2, 3) * (1 + 0j), dims=("x", "y"))
    for given in (data, data.chunk({"x": 1})):
        result = tzx.cumsum(given).compute()
        assert result.dtype == complex and np.array_equal(result.real, data.real.cumsum())
