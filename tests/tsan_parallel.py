"""Interpreters with their own locks using tessel at once, for ThreadSanitizer (tests/reliability.sh).

    python3.13 tests/tsan_parallel.py build_dir      (3.13 or later)
"""
import os
import sys
import threading

import _interpreters

BUILD = os.path.abspath(sys.argv[1])
WORK = f"""
import sys
sys.path.insert(0, {BUILD!r})
import datetime as dt, pickle, tessel
utc = dt.timezone.utc
for i in range(150):
    t0 = dt.datetime(2020 + i % 7, 1 + i % 12, 1 + i % 28, i % 24, tzinfo=utc)
    cal = tessel.Calendar("BTCUSDT")
    ttx = cal.get_bus_ttx(t0, t0 + dt.timedelta(days=30 + i))
    for cls in (tessel.GVVSpline, tessel.VolGeo, tessel.CubicSpline):
        m = pickle.loads(pickle.dumps(cls(t0, ref_vol=30.0 + i)))
        vols = m.get_vol(ttx, 100.0, [80.0 + k for k in range(40)])
        m.get_jacobian(ttx, 100.0, [90.0, 110.0], m.get_fitting_params())
        m.bump_param("ref_vol", 0.5)
        repr(m), m.expiry
    iv = tessel.calibrate_black76_iv(ttx, 100.0, 105.0, 3.0, "CALL")
    tessel.binary_speed(100.0, 105.0, ttx, iv, "p")
    tessel.Calendar.tenor_to_ttx(f"{{i + 1}}w")
    try:
        tessel.b76_delta(100.0, 100.0, 1.0, 0.2, "Ça")
    except ValueError:
        pass
"""


def worker():
    interp = _interpreters.create("isolated")
    try:
        failure = _interpreters.exec(interp, WORK)
        assert failure is None, failure
    finally:
        _interpreters.destroy(interp)


threads = [threading.Thread(target=worker) for _ in range(4)]
for t in threads:
    t.start()
for t in threads:
    t.join()
print("ok: 4 interpreters in parallel")
