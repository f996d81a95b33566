"""The code a user would write without the module: the same formulas in plain
Python with `math`, and the smile models vectorised with numpy (list in, list
out). bench.py checks that each computes the module's numbers before it times
them, so every ratio compares equal work; the tests check the module against
the same code.

The arithmetic follows the module's evaluation order operation by operation,
so that the plain-Python versions agree bit for bit where they call the same
C library functions (log, exp, sqrt, erfc, tanh, fmod).
"""

import json
import math
from datetime import date, datetime, timedelta, timezone
from math import erfc, exp, fmod, log, sqrt, tanh
from zoneinfo import ZoneInfo

import numpy as np

SQRT_2PI = 2.5066282746310007
SQRT_2 = 1.4142135623730951

np.seterr(all="ignore")  # NaN and inf flow through, as in the module


# ---- option analytics ----------------------------------------------------


def is_call(call_put):
    cp = call_put.lower()
    if cp == "c" or cp == "call":
        return True
    if cp == "p" or cp == "put":
        return False
    raise ValueError(f"Unknown option type: '{cp}'. Use 'call'/'c' or 'put'/'p'.")


def b76_fairvalue(fwd, strike, ttx, vol, call_put, df=1.0):
    call = is_call(call_put)
    if ttx <= 0.0 or vol <= 0.0:
        return df * max(fwd - strike, 0.0) if call else df * max(strike - fwd, 0.0)
    vst = vol * sqrt(ttx)
    d1 = (log(fwd / strike) + 0.5 * vol * vol * ttx) / vst
    d2 = d1 - vst
    if call:
        return df * (fwd * (0.5 * erfc(-d1 / SQRT_2)) - strike * (0.5 * erfc(-d2 / SQRT_2)))
    return df * (strike * (0.5 * erfc(d2 / SQRT_2)) - fwd * (0.5 * erfc(d1 / SQRT_2)))


def b76_delta(fwd, strike, ttx, vol, call_put, df=1.0):
    call = is_call(call_put)
    if ttx <= 0.0 or vol <= 0.0:
        return 0.0
    st = sqrt(ttx)
    d1 = (log(fwd / strike) + 0.5 * vol * vol * ttx) / (vol * st)
    g = exp(d1 * (-0.5 * d1)) / SQRT_2PI * df / (fwd * vol * st)
    return g if call else -g


def b76_vega(fwd, strike, ttx, vol, df=1.0):
    if ttx <= 0.0 or vol <= 0.0:
        return 0.0
    st = sqrt(ttx)
    d1 = (log(fwd / strike) + 0.5 * vol * vol * ttx) / (vol * st)
    return exp(d1 * (-0.5 * d1)) / SQRT_2PI * (df * fwd) * st


def b76_gamma(fwd, strike, ttx, vol, df=1.0):
    if ttx <= 0.0 or vol <= 0.0:
        return 0.0
    st = sqrt(ttx)
    d1 = (log(fwd / strike) + 0.5 * vol * vol * ttx) / (vol * st)
    return exp(d1 * (-0.5 * d1)) / SQRT_2PI * df / (fwd * fwd * vol * st)


def binary_fairvalue(fwd, strike, ttx, vol, call_put, df=1.0):
    call = is_call(call_put)
    if ttx <= 0.0 or vol <= 0.0:
        pays = fwd > strike if call else fwd < strike
        return df * (1.0 if pays else 0.0)
    x = log(fwd / strike) / (vol * sqrt(ttx))
    return df * (0.5 * erfc(-x / SQRT_2)) if call else df * (0.5 * erfc(x / SQRT_2))


def binary_delta(fwd, strike, ttx, vol, call_put, df=1.0):
    call = is_call(call_put)
    if ttx <= 0.0 or vol <= 0.0:
        return 0.0
    s = vol * sqrt(ttx)
    x = log(fwd / strike) / s
    phi = exp(x * (-0.5 * x)) / SQRT_2PI
    g = phi * df / (fwd * vol * sqrt(ttx))
    return g if call else -g


def binary_gamma(fwd, strike, ttx, vol, call_put, df=1.0):
    call = is_call(call_put)
    if ttx <= 0.0 or vol <= 0.0:
        return 0.0
    s = vol * sqrt(ttx)
    x = log(fwd / strike) / s
    phi = exp(x * (-0.5 * x)) / SQRT_2PI
    g = (phi * (-df) * (1.0 / fwd) * (1.0 / fwd) * (1.0 / s)) * (1.0 + x * (1.0 / s))
    return g if call else -g


def binary_speed(fwd, strike, ttx, vol, call_put, df=1.0):
    call = is_call(call_put)
    if ttx <= 0.0 or vol <= 0.0:
        return 0.0
    s = vol * sqrt(ttx)
    x = log(fwd / strike) / s
    phi = exp(x * (-0.5 * x)) / SQRT_2PI
    g = ((x / s + 2.0) * (x / s + 1.0) - 1.0 / (s * s)) * (phi * df * (1.0 / (fwd * fwd * fwd)) / s)
    return g if call else -g


def binary_vega(fwd, strike, ttx, vol, call_put, df=1.0):
    call = is_call(call_put)
    if ttx <= 0.0 or vol <= 0.0:
        return 0.0
    x = log(fwd / strike) / (vol * sqrt(ttx))
    g = exp(-0.5 * x * x) / -SQRT_2PI * df * x / vol
    return g if call else -g


def binary_theta(fwd, strike, ttx, vol, call_put, df=1.0):
    call = is_call(call_put)
    if ttx <= 0.0 or vol <= 0.0:
        return 0.0
    s = vol * sqrt(ttx)
    x = log(fwd / strike) / s
    phi = exp(x * (-0.5 * x)) / SQRT_2PI
    g = phi * (0.5 * df) * x / ttx
    return g if call else -g


# b76_fairvalue with the option type already read: Brent's objective. Written
# out again rather than called from b76_fairvalue, so that neither timing pays
# a Python call that the code a user would write does not.
def _b76_value(fwd, strike, ttx, vol, call, df):
    if ttx <= 0.0 or vol <= 0.0:
        return df * max(fwd - strike, 0.0) if call else df * max(strike - fwd, 0.0)
    vst = vol * sqrt(ttx)
    d1 = (log(fwd / strike) + 0.5 * vol * vol * ttx) / vst
    d2 = d1 - vst
    if call:
        return df * (fwd * (0.5 * erfc(-d1 / SQRT_2)) - strike * (0.5 * erfc(-d2 / SQRT_2)))
    return df * (strike * (0.5 * erfc(d2 / SQRT_2)) - fwd * (0.5 * erfc(d1 / SQRT_2)))


def calibrate_black76_iv(ttx, fwd, strike, price, call_put, df=1.0):
    """Brent's method on vol in [0.01, 10] to 1e-4, at most 100 steps."""
    call = is_call(call_put)
    a, b, tol = 0.01, 10.0, 1e-4
    fa = _b76_value(fwd, strike, ttx, a, call, df) - price
    fb = _b76_value(fwd, strike, ttx, b, call, df) - price
    if math.isnan(fa) or math.isnan(fb) or fa * fb > 0.0:
        return math.nan
    c, fc = a, fa
    d = e = b - a
    for _ in range(100):
        if fb * fc > 0.0:
            c, fc = a, fa
            d = e = b - a
        if abs(fc) < abs(fb):
            a, b, c = b, c, b
            fa, fb, fc = fb, fc, fb
        tol1 = 4.440892098500626e-16 * abs(b) + 0.5 * tol
        xm = 0.5 * (c - b)
        if abs(xm) <= tol1 or fb == 0.0:
            return b
        if abs(e) >= tol1 and abs(fa) > abs(fb):
            s = fb / fa
            if a == c:
                p = 2.0 * xm * s
                q = 1.0 - s
            else:
                q0 = fa / fc
                r = fb / fc
                p = s * (2.0 * xm * q0 * (q0 - r) - (b - a) * (r - 1.0))
                q = (q0 - 1.0) * (r - 1.0) * (s - 1.0)
            if p > 0.0:
                q = -q
            p = abs(p)
            if 2.0 * p < 3.0 * xm * q - abs(tol1 * q) and p < abs(0.5 * e * q):
                e = d
                d = p / q
            else:
                d = xm
                e = d
        else:
            d = xm
            e = d
        a, fa = b, fb
        b += d if abs(d) > tol1 else math.copysign(tol1, xm)
        fb = _b76_value(fwd, strike, ttx, b, call, df) - price
    return b


# ---- smile models, vectorised with numpy ---------------------------------
# p is the model's parameter dict (get_param_dict()); each *_vols returns an
# array, get_vol takes and returns lists like the module does.

GRID = [-5.0, -2.5, -1.5, -1.0, -0.5, 0.0, 0.5, 1.0, 1.5, 2.5, 5.0]
WIDTH = [GRID[i + 1] - GRID[i] for i in range(10)]
GRID_NP = np.array(GRID)
WIDTH_NP = np.array(WIDTH)


def gvv_vols(p, ttx, spot, k):
    sigma0 = p["ref_vol"] / 100.0
    skew = p["skew"] / 100.0
    smile = p["smile"] / 100.0
    pwing = p["pwing"] / 100.0
    cwing = p["cwing"] / 100.0
    z = np.log(k / p["ref_spot"]) / sqrt(ttx)
    y = (1.0 - np.exp(-z * z) * 0.5) * z
    a = ((skew + skew) * y) * sigma0 + sigma0 * sigma0
    core = (np.sqrt(((smile * y) * y) * 4.0 + a * a) + a) * 0.5
    w = np.tanh(y / np.sqrt(core) / 6.0) * 6.0
    w4 = (w * w) * (w * w)
    u = np.where(y < 0.0, pwing * w4 + core, np.where(y > 0.0, w4 * cwing + core, core))
    v = np.sqrt(u)
    v[~np.isfinite(v)] = np.nan
    return v


def volgeo_vols(p, ttx, spot, k):
    e = exp(2.0 * p["corr"])
    rho = (e - 1.0) / (e + 1.0)
    rt = sqrt(ttx)
    ref_vol, vvol = p["ref_vol"], p["vvol"]
    atm = ((((log(spot / p["ref_spot"]) / rt) / ref_vol) * (vvol * rho)) * p["vpr"]) + ref_vol
    sigma = atm / 100.0
    k1 = (vvol * rho) / 100.0
    k2 = (((1.0 - rho * rho) * (vvol * vvol)) / (sigma * 100.0)) / 100.0
    x = np.log(k / spot) / rt
    g = ((2.0 * k1) * x) * sigma + sigma * sigma
    return np.sqrt((np.sqrt(((k2 * x) * x) * 4.0 + g * g) + g) * 0.5)


def cubic_vols(p, ttx, spot, k):
    ref_vol = p["ref_vol"]
    r = (log(spot / p["ref_spot"]) / log(ttx)) / ref_vol
    s = ((p["p05"] - p["c05"]) / 0.1) * 100.0
    atm = (s * r) * p["vpr"] + ref_vol
    y = [0.0] * 11
    put = call = 0.0
    for j, (pn, cn) in enumerate(zip(("p05", "p10", "p15", "p20", "p25"), ("c05", "c10", "c15", "c20", "c25"))):
        put = put + p[pn]
        call = call + p[cn]
        up = (put + atm) / 100.0
        uc = (call + atm) / 100.0
        y[4 - j] = up * up
        y[6 + j] = uc * uc
    u0 = atm / 100.0
    y[5] = u0 * u0
    slope = [(y[i + 1] - y[i]) / WIDTH[i] for i in range(10)]
    d = [0.0] * 11
    d[0], d[10] = slope[0], slope[9]
    for i in range(1, 10):
        if not slope[i - 1] * slope[i] <= 0.0:
            w1 = 2.0 * WIDTH[i] + WIDTH[i - 1]
            w2 = 2.0 * WIDTH[i - 1] + WIDTH[i]
            d[i] = (w1 + w2) / (w1 / slope[i - 1] + w2 / slope[i])
    y_np, d_np = np.array(y), np.array(d)

    z = ((np.log(k / spot) / sqrt(ttx)) / atm) * 100.0
    i = np.clip(np.searchsorted(GRID_NP, z, side="right") - 1, 0, 9)
    h = WIDTH_NP[i]
    t = (z - GRID_NP[i]) / h
    t3 = t * t * t
    two_t3 = 2.0 * t * t * t
    three_t2 = 3.0 * t * t
    inner = (y_np[i] * (two_t3 - three_t2 + 1.0) + y_np[i + 1] * (three_t2 - two_t3)
             + (h * d_np[i]) * (t3 - 2.0 * t * t + t) + (h * d_np[i + 1]) * (t3 - t * t))
    v = np.where(z <= -5.0, y[0] + (z - -5.0) * slope[0],
                 np.where(z >= 5.0, slope[9] * (z - 5.0) + y[10], inner))
    return np.sqrt(v)


VOLS = {"GVVSpline": gvv_vols, "VolGeo": volgeo_vols, "CubicSpline": cubic_vols}
FITTING = {
    "GVVSpline": ["ref_vol", "skew", "smile"],
    "VolGeo": ["ref_vol", "corr", "vvol"],
    "CubicSpline": ["ref_vol", "p25", "p20", "p15", "p10", "p05", "c05", "c10", "c15", "c20", "c25"],
}


def numpy_get_vol(vols):
    def get_vol(p, ttx, spot, strikes):
        return vols(p, ttx, spot, np.array(strikes, dtype=np.float64)).tolist()
    return get_vol


def numpy_get_jacobian(vols):
    def get_jacobian(p, ttx, spot, strikes, names):
        k = np.array(strikes, dtype=np.float64)
        base = vols(p, ttx, spot, k)
        out = {}
        for name in names:
            bumped = dict(p)
            if name in bumped:
                bumped[name] += 0.01
            out[name] = ((vols(bumped, ttx, spot, k) - base) / 0.01).tolist()
        return out
    return get_jacobian


# ---- trading calendar with zoneinfo --------------------------------------

WEEKDAYS = ("monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday")


class PyCalendar:
    """Business time on the local clock, from the same calendar document."""

    def __init__(self, document_text):
        doc = json.loads(document_text)
        self.zone = ZoneInfo(doc["IanaTimeZone"])
        self.curves = [None] * 7
        self.day_weights = [0.0] * 7
        for key, u in doc["DayWeightings"].items():
            wd = WEEKDAYS.index(key.lower())
            w = [0.0] * 96
            for bucket, weight in doc["TimeWeightings"][key].items():
                h, m = bucket.split("-")[0].strip().split(":")[:2]
                w[(int(h) * 60 + int(m)) // 15] = float(weight)
            total = w[0]
            for j in range(1, 96):  # left to right: sum() compensates in 3.12
                total += w[j]
            curve = [0.0] * 97
            for j in range(1, 97):
                curve[j] = curve[j - 1] + (0.0 if total == 0.0 else (w[j - 1] / total) * u)
            self.curves[wd] = curve
            self.day_weights[wd] = float(u)
        ww = self.day_weights[0]
        for d in range(1, 7):
            ww += self.day_weights[d]
        self.week_weight = ww
        self.years = {}

    def _span(self, days, first):
        h = float(days // 7) * self.week_weight
        for i in range(days % 7):
            h += self.day_weights[(first + i) % 7]
        return h

    def _year(self, y):
        entry = self.years.get(y)
        if entry is None:
            jan1 = date(y, 1, 1).toordinal()
            wd = date(y, 1, 1).weekday()
            entry = self.years[y] = (jan1, wd, self._span(date(y + 1, 1, 1).toordinal() - jan1, wd))
        return entry

    def bus_time(self, t):
        local = t.astimezone(self.zone)
        y = local.year
        jan1, wd, weight = self._year(y)
        n = local.toordinal() - jan1
        p = self._span(n, wd)
        curve = self.curves[(wd + n) % 7]
        if curve is not None:
            s = float(local.hour * 3600 + local.minute * 60 + local.second)
            k = min(int(math.floor(s / 900.0)), 95)
            f = fmod(s, 900.0) / 900.0
            p = p + ((curve[k + 1] - curve[k]) * f + curve[k])
        return float(y) + p / weight

    def get_bus_ttx(self, start, end):
        return self.bus_time(end) - self.bus_time(start)


def offset_changes(zone, first_year, end_year):
    """The UTC instants (aware datetimes) from 1 January of first_year to 1
    January of end_year at which `zone` changes its UTC offset, to the second:
    each is the first second of the new offset. Found by weekly steps and
    bisection, so two changes less than a week apart would go unseen."""
    def offset(s):
        return datetime.fromtimestamp(s, timezone.utc).astimezone(zone).utcoffset()

    s = int(datetime(first_year, 1, 1, tzinfo=timezone.utc).timestamp())
    end = int(datetime(end_year, 1, 1, tzinfo=timezone.utc).timestamp())
    found, before = [], offset(s)
    while s < end:
        n = min(s + 7 * 86400, end)
        after = offset(n)
        if after != before:
            lo, hi = s, n  # offset(lo) == before != offset(hi)
            while hi - lo > 1:
                mid = (lo + hi) // 2
                lo, hi = (mid, hi) if offset(mid) == before else (lo, mid)
            found.append(datetime.fromtimestamp(hi, timezone.utc))
        s, before = n, after
    return found


def get_cal_ttx(start, end):
    return int((end - start) / timedelta(seconds=1)) / 31536000.0


def tenor_to_ttx(tenor):
    unit = tenor[-1:]
    x = float(tenor[:-1])
    if unit == "d":
        return x / 365.0
    if unit == "w":
        return (x * 7.0) / 365.0
    if unit == "m":
        return (x * 30.0) / 365.0
    if unit == "y":
        return x
    raise ValueError(f"Invalid tenor format: {tenor}")
