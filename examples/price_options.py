"""Price a small book of options on one expiry, the way a desk would.

Measure time to expiry in trading time, read volatilities from a smile,
value vanilla and binary options, and recover an implied volatility.
Run from the repository after building: PYTHONPATH=build python examples/price_options.py
"""
from datetime import datetime, timezone

import tessel

now = datetime(2025, 3, 14, 15, 30, tzinfo=timezone.utc)
expiry = datetime(2025, 3, 28, 8, 0, tzinfo=timezone.utc)
spot = fwd = 84_000.0

cal = tessel.Calendar("BTCUSDT")
bus_ttx = cal.get_bus_ttx(now, expiry)
cal_ttx = tessel.Calendar.get_cal_ttx(now, expiry)
print(f"time to expiry: {bus_ttx:.6f} y of trading time, {cal_ttx:.6f} y of calendar time "
      f"(a 2w tenor is {tessel.Calendar.tenor_to_ttx('2w'):.6f} y)")

smile = tessel.VolGeo(expiry, ref_spot=spot, ref_vol=55.0, corr=-0.3, vvol=90.0)
strikes = [70_000.0, 77_000.0, 84_000.0, 91_000.0, 98_000.0]
vols = smile.get_vol(bus_ttx, spot, strikes)

print()
print(f"{'strike':>8} {'vol':>7} {'call':>10} {'put':>10} {'delta':>9} {'vega':>9} {'binary':>8} {'implied':>8}")
for k, vol in zip(strikes, vols):
    call = tessel.b76_fairvalue(fwd, k, bus_ttx, vol, "call")
    put = tessel.b76_fairvalue(fwd, k, bus_ttx, vol, "put")
    delta = tessel.b76_delta(fwd, k, bus_ttx, vol, "call")
    vega = tessel.b76_vega(fwd, k, bus_ttx, vol)
    digital = tessel.binary_fairvalue(fwd, k, bus_ttx, vol, "call")
    implied = tessel.calibrate_black76_iv(bus_ttx, fwd, k, call, "call")
    print(f"{k:>8.0f} {vol:>7.4f} {call:>10.2f} {put:>10.2f} {delta:>9.2e} {vega:>9.1f} {digital:>8.4f} "
          f"{implied:>8.4f}")
