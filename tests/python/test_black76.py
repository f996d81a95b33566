"""Option type, Black-76 values and sensitivities against a plain-Python reference."""
import math

import pytest
from hypothesis import given, settings, strategies as st

import reference as ref
import tessel
from names import FUNCTIONS


def test_worked_values():
    assert tessel.b76_fairvalue(100, 100, 1, 0.2, "call") == 7.965567455405804
    assert tessel.b76_fairvalue(100, 100, 1, 0.2, "put") == 7.965567455405804
    assert tessel.b76_delta(100, 100, 1, 0.2, "call") == 0.01984762737385059
    assert tessel.b76_delta(100, 100, 1, 0.2, "put") == -0.01984762737385059
    assert tessel.b76_gamma(100, 100, 1, 0.2) == 0.00019847627373850588
    assert tessel.b76_vega(100, 100, 1, 0.2) == 39.69525474770118


@pytest.mark.parametrize("t,v", [(0, 0.2), (-1, 0.2), (1, 0), (1, -0.1), (0, 0)])
def test_guards(t, v):
    assert tessel.b76_fairvalue(110, 100, t, v, "call", 0.9) == 0.9 * 10.0
    assert tessel.b76_fairvalue(110, 100, t, v, "put", 0.9) == 0.0
    assert tessel.b76_fairvalue(90, 100, t, v, "p") == 10.0
    for cp in ("call", "put"):
        assert tessel.b76_delta(110, 100, t, v, cp) == 0.0
    assert tessel.b76_vega(110, 100, t, v) == 0.0
    assert tessel.b76_gamma(110, 100, t, v) == 0.0


def test_guard_value_is_discounted_intrinsic():
    assert tessel.b76_fairvalue(110, 100, 0, 0.2, "call", 0.9) == 9.0


def test_nan_time_or_vol_flows_through():
    assert math.isnan(tessel.b76_fairvalue(100, 100, float("nan"), 0.2, "call"))
    assert math.isnan(tessel.b76_vega(100, 100, 1, float("nan")))


positive = st.floats(min_value=1e-3, max_value=1e4)


@settings(max_examples=400, deadline=None)
@given(f=positive, k=positive,
       t=st.one_of(st.floats(min_value=-1, max_value=0), st.floats(min_value=1e-6, max_value=30)),
       v=st.one_of(st.floats(min_value=-0.1, max_value=0), st.floats(min_value=1e-4, max_value=5)),
       df=st.floats(min_value=0, max_value=1.5), cp=st.sampled_from(["call", "put"]))
def test_reproduces_the_written_evaluation_order_bit_for_bit(f, k, t, v, df, cp):
    # The formulas are evaluated as written, so plain Python doing the same
    # reproduces every result to the last bit.
    assert tessel.b76_fairvalue(f, k, t, v, cp, df) == ref.b76_fairvalue(f, k, t, v, cp, df)
    assert tessel.b76_delta(f, k, t, v, cp, df) == ref.b76_delta(f, k, t, v, cp, df)
    assert tessel.b76_vega(f, k, t, v, df) == ref.b76_vega(f, k, t, v, df)
    assert tessel.b76_gamma(f, k, t, v, df) == ref.b76_gamma(f, k, t, v, df)


@settings(max_examples=200, deadline=None)
@given(f=st.floats(min_value=1, max_value=1e3), k=st.floats(min_value=1, max_value=1e3),
       t=st.floats(min_value=0.01, max_value=5), v=st.floats(min_value=0.05, max_value=2))
def test_put_call_parity_and_greeks_as_derivatives(f, k, t, v):
    c = tessel.b76_fairvalue(f, k, t, v, "call")
    p = tessel.b76_fairvalue(f, k, t, v, "put")
    assert c - p == pytest.approx(f - k, abs=1e-9 * max(f, k))
    h = 1e-4 * v
    vega_fd = (tessel.b76_fairvalue(f, k, t, v + h, "call") - tessel.b76_fairvalue(f, k, t, v - h, "call")) / (2 * h)
    assert tessel.b76_vega(f, k, t, v) == pytest.approx(vega_fd, rel=1e-5, abs=1e-8 * f)
    # b76_delta is the derivative of N(d1) in F; gamma that divided by F.
    assert tessel.b76_gamma(f, k, t, v) == pytest.approx(tessel.b76_delta(f, k, t, v, "call") / f, rel=1e-12)


def test_zero_or_negative_forward_gives_ieee_results():
    assert math.isnan(tessel.b76_fairvalue(-100, 100, 1, 0.2, "call"))
    assert tessel.b76_fairvalue(0.0, 100, 1, 0.2, "put") == 100.0


@pytest.mark.parametrize("text", ["CALL", "Call", "C", "c", "call", "P", "PUT", "put", "p", "pUt"])
def test_option_type_accepted(text):
    sign = 1.0 if text.lower().startswith("c") else -1.0
    assert tessel.b76_delta(100, 100, 1, 0.2, text) == sign * 0.01984762737385059
    assert tessel.binary_fairvalue(110, 100, 0, 0.2, text, 0.9) == (0.9 if sign > 0 else 0.0)


@pytest.mark.parametrize("text,lowered", [
    ("calls", "calls"), ("cal", "cal"), ("", ""), (" call", " call"), ("call ", "call "), ("PUTX", "putx"),
    ("ÇALL", "çall"), ("İ", "i̇"), ("ΌΣΟΣ", "όσος"), ("ẞ", "ß"),
])
def test_option_type_refused(text, lowered):
    message = f"Unknown option type: '{lowered}'. Use 'call'/'c' or 'put'/'p'."
    for name in TAKES_CALL_PUT:
        with pytest.raises(ValueError) as e:
            getattr(tessel, name)(100, 100, 0, 0, text)  # parsed even where the guard applies
        assert str(e.value) == message, name
    with pytest.raises(ValueError) as e:
        tessel.calibrate_black76_iv(1, 100, 100, -5.0, text)  # a price no volatility matches
    assert str(e.value) == message


TAKES_CALL_PUT = [name for name in FUNCTIONS if "call_put" in getattr(tessel, name).__text_signature__
                  and name != "calibrate_black76_iv"]
ACCEPTED_WORDS = ["c", "call", "p", "put",
                  "monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday"]


def test_ascii_folding_accepts_exactly_what_full_lower_casing_accepts():
    # Only one non-ASCII character lower-cases to pure ASCII, and its ASCII is
    # in no word accepted in any letter case: folding ASCII letters alone
    # accepts the same texts as str.lower() would.
    to_ascii = [cp for cp in range(0x80, 0x110000)
                if not 0xD800 <= cp <= 0xDFFF and chr(cp).lower().isascii()]
    assert to_ascii == [0x212A] and chr(0x212A).lower() == "k"
    assert all(word.isascii() and "k" not in word for word in ACCEPTED_WORDS)
    with pytest.raises(ValueError, match="'kall'"):  # refused, and shown as str.lower() shows it
        tessel.b76_delta(100, 100, 1, 0.2, "\u212aALL")


@settings(max_examples=1500, deadline=None)
@given(st.text(alphabet=st.characters(blacklist_categories=["Cs"]), max_size=8))
def test_option_type_lowercasing_matches_python(text):
    lowered = text.lower()
    if lowered in ("c", "call", "p", "put"):
        tessel.b76_delta(100, 100, 1, 0.2, text)
        return
    with pytest.raises(ValueError) as e:
        tessel.b76_delta(100, 100, 1, 0.2, text)
    assert str(e.value) == f"Unknown option type: '{lowered}'. Use 'call'/'c' or 'put'/'p'."


def test_unicode_lowercasing_of_every_code_point():
    # One call per code point in bulk: each single character, and sigma in final/non-final position.
    for cp in range(0x110000):
        if 0xD800 <= cp <= 0xDFFF:
            continue
        c = chr(cp)
        for text in (c, "A" + c + "Σ", "AΣ" + c):
            lowered = text.lower()
            if lowered in ("c", "call", "p", "put"):
                continue
            try:
                tessel.b76_delta(1, 1, 1, 1, text)
            except ValueError as e:
                assert str(e) == f"Unknown option type: '{lowered}'. Use 'call'/'c' or 'put'/'p'.", hex(cp)
            else:
                pytest.fail(f"{text!r} ({hex(cp)}) was taken for an option type")
