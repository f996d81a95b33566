"""Argument matching, argument errors, the access flag and fault containment."""
import pytest

import tessel
from conftest import EXPIRY, MODEL_CLASSES, UTC, panic_type
from datetime import datetime

T = tessel


@pytest.mark.parametrize("call,message", [
    (lambda: T.b76_vega(100, 100, 1, 0.2, 1.0, 2.0),
     "b76_vega() takes from 4 to 5 positional arguments but 6 were given"),
    (lambda: T.VolGeo(EXPIRY, 2.0), "VolGeo.__new__() takes 1 positional arguments but 2 were given"),
    (lambda: T.Calendar("BTCUSDT", "x"), "Calendar.__new__() takes 1 positional arguments but 2 were given"),
    (lambda: T.GVVSpline(EXPIRY).get_vol_single(1, 2, 3, 4),
     "GVVSpline.get_vol_single() takes 3 positional arguments but 4 were given"),
    (lambda: T.Calendar.tenor_to_ttx("1y", "2y"),
     "Calendar.tenor_to_ttx() takes 1 positional arguments but 2 were given"),
    (lambda: T.b76_delta(100, 100),
     "b76_delta() missing 3 required positional arguments: 'ttx', 'vol', and 'call_put'"),
    (lambda: T.b76_vega(100, 100, 1), "b76_vega() missing 1 required positional argument: 'vol'"),
    (lambda: T.b76_vega(100, 100), "b76_vega() missing 2 required positional arguments: 'ttx' and 'vol'"),
    (lambda: T.b76_vega(ttx=1), "b76_vega() missing 3 required positional arguments: 'fwd', 'strike', and 'vol'"),
    (lambda: T.b76_vega(100, 100, 1, 0.2, fwd=1), "b76_vega() got multiple values for argument 'fwd'"),
    (lambda: T.b76_vega(100, 100, 1, vol=0.2, vol2=1, ttx=3), "b76_vega() got an unexpected keyword argument 'vol2'"),
    (lambda: T.b76_vega(100, 100, 1, 0.2, sigma=1), "b76_vega() got an unexpected keyword argument 'sigma'"),
    (lambda: T.VolGeo(), "VolGeo.__new__() missing 1 required positional argument: 'expiry'"),
    (lambda: T.VolGeo(EXPIRY, expiry=EXPIRY), "VolGeo.__new__() got multiple values for argument 'expiry'"),
    (lambda: T.Calendar("x", y=1), "Calendar.__new__() got an unexpected keyword argument 'y'"),
    (lambda: T.CubicSpline.with_params(EXPIRY), "CubicSpline.with_params() missing 1 required positional argument: "
                                                "'params'"),
    (lambda: T.VolGeo(EXPIRY).get_jacobian(ttx=1),
     "VolGeo.get_jacobian() missing 3 required positional arguments: 'spot', 'strikes', and 'params'"),
])
def test_matching_messages(call, message):
    with pytest.raises(TypeError) as e:
        call()
    assert str(e.value) == message
    assert type(e.value) is TypeError


def test_first_offending_keyword_raises_before_missing_check():
    with pytest.raises(TypeError, match="unexpected keyword argument 'a'"):
        T.b76_vega(a=1, b=2)


def test_keywords_and_default():
    ref = T.b76_vega(100, 100, 1, 0.2)
    assert T.b76_vega(fwd=100, strike=100, ttx=1, vol=0.2) == ref
    assert T.b76_vega(vol=0.2, ttx=1, strike=100, fwd=100, df=1.0) == ref
    assert T.b76_vega(100, 100, 1, 0.2, df=0.5) == 0.5 * ref
    assert T.b76_fairvalue(100, 100, call_put="c", vol=0.2, ttx=1) == T.b76_fairvalue(100, 100, 1, 0.2, "call")
    assert T.b76_vega(*[100, 100, 1, 0.2], **{"df": 1.0}) == ref


def test_conversion_error_is_decorated_with_cause():
    with pytest.raises(TypeError) as e:
        T.b76_vega(fwd=100, strike=100, ttx=1, vol=0.2, df=None)
    assert str(e.value) == "argument 'df': must be real number, not NoneType"
    assert type(e.value.__cause__) is TypeError
    assert str(e.value.__cause__) == "must be real number, not NoneType"


def test_only_exact_type_errors_are_decorated():
    class Sub(TypeError):
        pass

    class Raises:
        def __init__(self, exc):
            self.exc = exc

        def __float__(self):
            raise self.exc

    with pytest.raises(Sub) as e:
        T.b76_vega(100, 100, 1, Raises(Sub("inner")))
    assert str(e.value) == "inner"
    with pytest.raises(ZeroDivisionError):
        T.b76_vega(100, 100, 1, Raises(ZeroDivisionError()))
    with pytest.raises(OverflowError):
        T.b76_vega(10**400, 100, 1, 0.2)


def test_first_failing_argument_wins_in_parameter_order():
    with pytest.raises(TypeError, match="^argument 'strike':"):
        T.b76_fairvalue(100, "x", None, 0.2, 5)
    with pytest.raises(TypeError, match="^argument 'call_put': 'int' object is not an instance of 'str'$"):
        T.b76_fairvalue(100, 100, 1, 0.2, 5)
    with pytest.raises(TypeError, match="^argument 'call_put': 'None' is not an instance of 'str'$"):
        T.binary_delta(100, 100, 1, 0.2, None)


def test_instant_errors_are_never_prefixed():
    with pytest.raises(AttributeError) as e:
        T.VolGeo(1735689600.0)
    assert str(e.value) == "'float' object has no attribute 'timestamp'"
    with pytest.raises(AttributeError):
        T.Calendar.get_cal_ttx(EXPIRY, 3)

    class BadStamp:
        def timestamp(self):
            return "soon"

    with pytest.raises(TypeError) as e:
        T.Calendar.get_cal_ttx(BadStamp(), EXPIRY)
    assert str(e.value) == "must be real number, not str"


def test_params_dict_converts_before_expiry():
    with pytest.raises(TypeError, match="^argument 'params': must be real number, not str$"):
        T.VolGeo(1.0, vvol="x")
    with pytest.raises(TypeError, match="^argument 'params': 'list' object is not an instance of 'dict'$"):
        T.VolGeo.with_params(1.0, [("vvol", 1.0)])
    with pytest.raises(TypeError, match="^argument 'params': must be real number, not dict$"):
        T.VolGeo(EXPIRY, params={"vvol": 1.0})
    with pytest.raises(TypeError, match="^argument 'params': 'int' object is not an instance of 'str'$"):
        T.VolGeo.with_params(EXPIRY, {1: 2.0})


@pytest.mark.parametrize("cls", MODEL_CLASSES, ids=lambda c: c.__name__)
def test_reentrant_access_is_refused(cls):
    m = cls(EXPIRY)
    seen = []

    class Reader:
        def __float__(self):
            try:
                m.get_param_dict()
            except RuntimeError as e:
                seen.append(str(e))
            return 1.0

    class Writer:
        def __float__(self):
            try:
                m.set_param("vpr", 2.0)
            except RuntimeError as e:
                seen.append(str(e))
            return 1.0

    m.set_param("vpr", Reader())          # exclusive, then a shared read inside
    m.get_vol_single(1.0, 100.0, Writer())  # shared, then an exclusive write inside
    assert seen == ["Already mutably borrowed", "Already borrowed"]
    # Nested shared access is fine.
    m.get_vol_single(0.5, 100.0, type("R", (), {"__float__": lambda s: m.get_vol_single(0.5, 100.0, 90.0)})())

    class Propagate:
        def __float__(self):
            return m.get_param_dict()

    with pytest.raises(RuntimeError) as e:
        m.set_param("vpr", Propagate())
    assert str(e.value) == "Already mutably borrowed" and e.value.__cause__ is None
    m.set_param("vpr", 3.0)  # the flag is free again
    assert m.get_parameter("vpr") == 3.0


def test_calendar_is_held_exclusively_while_converting():
    cal = T.Calendar("BTCUSDT")

    class Stamp:
        def timestamp(self):
            cal.get_bus_ttx(EXPIRY, EXPIRY)
            return 0.0

    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        cal.get_bus_ttx(Stamp(), EXPIRY)
    assert cal.get_bus_ttx(EXPIRY, EXPIRY) == 0.0


def test_self_type_is_checked():
    with pytest.raises(TypeError):
        T.VolGeo.get_vol_single(T.GVVSpline(EXPIRY), 1.0, 100.0, 100.0)
    with pytest.raises(TypeError):
        T.VolGeo.arb_free(object())
    with pytest.raises(TypeError):
        T.GVVSpline(EXPIRY).arb_free(1)


def test_dict_mutation_during_conversion_panics():
    panic = panic_type()

    class Grow:
        def __float__(self):
            d["zzz"] = 1.0
            return 1.0

    d = {"ref_vol": Grow()}
    with pytest.raises(panic, match="^dictionary changed size during iteration$"):
        T.GVVSpline.with_params(EXPIRY, d)

    class Swap:
        def __float__(self):
            e.pop("a", None)
            e["c"] = 3.0
            return 1.0

    e = {"a": Swap(), "b": 2.0}
    with pytest.raises(panic) as exc:
        T.GVVSpline.with_params(EXPIRY, e)
    assert str(exc.value) in ("dictionary keys changed during iteration", "dictionary changed size during iteration")
    assert isinstance(T.GVVSpline(datetime(2030, 1, 1, tzinfo=UTC)), T.GVVSpline)
