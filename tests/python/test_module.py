"""The module's namespace, classes and text signatures."""
import inspect

import pytest

import tessel
from conftest import EXPIRY, MODEL_CLASSES, PUBLIC, panic_type

OPTION = "fwd, strike, ttx, vol, call_put, df=1.0"
FUNCTION_SIGNATURES = {
    "b76_fairvalue": OPTION, "b76_delta": OPTION, "b76_vega": "fwd, strike, ttx, vol, df=1.0",
    "b76_gamma": "fwd, strike, ttx, vol, df=1.0", "binary_fairvalue": OPTION, "binary_vega": OPTION,
    "binary_delta": OPTION, "binary_gamma": OPTION, "binary_speed": OPTION, "binary_theta": OPTION,
    "calibrate_black76_iv": "ttx, fwd, strike, price, call_put, df=1.0",
}

MODEL_MEMBERS = [
    ("with_params", "(expiry, params)"), ("get_vol", "($self, ttx, spot, strikes)"),
    ("get_vol_single", "($self, ttx, spot, strike)"), ("arb_free", "($self)"), ("get_parameter", "($self, param)"),
    ("set_param", "($self, param, value)"), ("get_param_dict", "($self)"), ("get_fitting_params", "($self)"),
    ("reanchor", "($self, spot, ttx)"), ("bump_param", "($self, param, d_value)"),
    ("get_jacobian", "($self, ttx, spot, strikes, params)"),
]


def test_namespace():
    assert tessel.__all__ == PUBLIC
    assert tessel.__doc__ == ""
    assert [n for n in dir(tessel) if not n.startswith("_")] == sorted(PUBLIC)


@pytest.mark.parametrize("name,params", FUNCTION_SIGNATURES.items())
def test_function_objects(name, params):
    f = getattr(tessel, name)
    assert f.__name__ == name and f.__module__ == "tessel"
    assert f.__doc__ is None or f.__doc__ == ""
    assert f.__text_signature__ == f"({params})"
    assert type(f).__name__ == "builtin_function_or_method"
    assert f.__self__ is tessel


@pytest.mark.parametrize("cls,sig", [(tessel.Calendar, "(underlying)")]
                         + [(c, "(expiry, **params)") for c in MODEL_CLASSES])
def test_type_objects(cls, sig):
    assert cls.__module__ == "builtins"
    assert cls.__qualname__ == cls.__name__
    assert cls.__text_signature__ == sig
    assert cls.__doc__ is None or cls.__doc__ == ""
    assert cls.__bases__ == (object,)
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    assert "__dict__" not in dir(cls) and "__weakref__" not in dir(cls)


@pytest.mark.parametrize("cls", MODEL_CLASSES, ids=lambda c: c.__name__)
def test_model_members(cls):
    names = [n for n in cls.__dict__ if not n.startswith("__")]
    assert names == ["with_params", "get_vol", "get_vol_single", "arb_free", "get_parameter", "set_param",
                     "get_param_dict", "get_fitting_params", "reanchor", "bump_param", "get_jacobian", "expiry"]
    for name, sig in MODEL_MEMBERS:
        assert getattr(cls, name).__text_signature__ == sig, name
    assert isinstance(cls.__dict__["with_params"], staticmethod)
    prop = cls.__dict__["expiry"]
    assert inspect.isgetsetdescriptor(prop) and prop.__doc__ in ("", None)
    m = cls(EXPIRY)
    with pytest.raises(AttributeError):
        m.expiry = EXPIRY
    with pytest.raises(AttributeError):
        m.anything = 1


def test_calendar_members():
    names = [n for n in tessel.Calendar.__dict__ if not n.startswith("__")]
    assert names == ["get_bus_ttx", "get_cal_ttx", "tenor_to_ttx"]
    assert tessel.Calendar.get_bus_ttx.__text_signature__ == "($self, from, to)"
    assert tessel.Calendar.get_cal_ttx.__text_signature__ == "(from, to)"
    assert tessel.Calendar.tenor_to_ttx.__text_signature__ == "(tenor)"
    assert isinstance(tessel.Calendar.__dict__["get_cal_ttx"], staticmethod)


def test_panic_exception_type():
    panic = panic_type()
    assert panic.__name__ == "PanicException"
    assert issubclass(panic, BaseException) and not issubclass(panic, Exception)
    assert panic.__module__ != "tessel"
    assert "propagate" in panic.__doc__
