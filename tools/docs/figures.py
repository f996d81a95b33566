"""Pictures for the documentation, computed from the built module.

    PYTHONPATH=build python tools/docs/figures.py OUTDIR

Writes calendar_week.png (the embedded week's business time per quarter hour
of the local clock), calendar_month.png (business against calendar time over
March 2025, across the change to daylight saving time, with the two change
nights of 2025 up close) and b76_delta.png (what b76_delta returns next to
finite differences of b76_fairvalue). Every number is a call into tessel.
"""
from __future__ import annotations

import sys
from datetime import datetime, timedelta, timezone
from pathlib import Path
from zoneinfo import ZoneInfo

import matplotlib

matplotlib.use("Agg")
import matplotlib.dates as mdates  # noqa: E402
import matplotlib.pyplot as plt  # noqa: E402

import tessel  # noqa: E402

ZONE = ZoneInfo("US/Eastern")  # the zone of the embedded calendar
QUARTER = timedelta(minutes=15)
WEEK_MINUTES = 7 * 24 * 60
DAYS = ["Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"]


def quarter_hours(start: datetime, end: datetime) -> list[datetime]:
    """UTC instants every 15 minutes of real time from start to end inclusive."""
    t, out = start.astimezone(timezone.utc), []
    while t <= end:
        out.append(t)
        t += QUARTER
    return out


def week_minutes(cal: tessel.Calendar) -> list[float]:
    """Business minutes in each quarter hour of a week without a clock change.

    A quarter hour's business time divided by the whole week's, times the
    10,080 minutes of a week: a calendar that weighted every minute alike
    would give 15 everywhere.
    """
    monday = datetime(2025, 1, 6, tzinfo=ZONE)  # a January week: no clock change
    whole = cal.get_bus_ttx(monday, monday + timedelta(days=7))
    starts = [monday + i * QUARTER for i in range(7 * 96)]
    return [cal.get_bus_ttx(t, t + QUARTER) / whole * WEEK_MINUTES for t in starts]


def week(cal: tessel.Calendar, path: Path) -> None:
    """The week's quarter hours on the local clock, Monday to Sunday."""
    minutes = week_minutes(cal)
    hours = [i / 4 for i in range(len(minutes))]

    fig, ax = plt.subplots(figsize=(11, 4.2))
    ax.bar(hours, minutes, width=0.25, align="edge", color="#3f51b5", linewidth=0)
    ax.axhline(15, color="black", linewidth=0.8, linestyle="--", label="equal weight: 15 minutes")
    for d, name in enumerate(DAYS):
        share = sum(minutes[d * 96:(d + 1) * 96]) / WEEK_MINUTES
        ax.axvline(24 * d, color="grey", linewidth=0.6)
        ax.text(24 * d + 12, 0.97, f"{name}\n{100 * share:.1f} % of the week", ha="center", va="top",
                transform=ax.get_xaxis_transform(), fontsize=9)
    ax.set_xlim(0, 168)
    ax.set_ylim(0, max(minutes) * 1.25)
    ax.set_xticks(range(0, 169, 6), [f"{h % 24:02d}" for h in range(0, 169, 6)], fontsize=8)
    ax.set_xlabel("local clock (US/Eastern), hour of the day, Monday to Sunday")
    ax.set_ylabel("business minutes per quarter hour")
    ax.set_title("Calendar(\"BTCUSDT\"): business time of each quarter hour of a week")
    ax.legend(loc="upper right", bbox_to_anchor=(1.0, 0.8), fontsize=8)
    fig.tight_layout()
    fig.savefig(path, dpi=100)
    plt.close(fig)


def change_night(ax: plt.Axes, cal: tessel.Calendar, day: datetime, title: str) -> None:
    """Business minutes per quarter hour of real time through a night with a clock change."""
    start, end = day.replace(hour=0), day.replace(hour=5)
    times = quarter_hours(start, end)[:-1]
    # In the units of the week's picture: minutes of a January week (2025).
    whole = cal.get_bus_ttx(datetime(2025, 1, 6, tzinfo=ZONE), datetime(2025, 1, 13, tzinfo=ZONE))
    minutes = [cal.get_bus_ttx(t, t + QUARTER) / whole * WEEK_MINUTES for t in times]
    ax.bar(times, minutes, width=QUARTER * 0.9, align="edge", color="#3f51b5")
    ax.axhline(0, color="black", linewidth=0.6)
    ax.xaxis.set_major_locator(mdates.HourLocator(tz=timezone.utc))
    labels = [t for t in times if t.minute == 0]
    ax.set_xticks(labels, [f"{t:%H:%M}\n{t.astimezone(ZONE):%H:%M %Z}" for t in labels], fontsize=8)
    ax.set_ylabel("business minutes per\nquarter hour of real time", fontsize=9)
    ax.set_xlabel("UTC / local clock", fontsize=9)
    ax.set_title(title, fontsize=10)


def month(cal: tessel.Calendar, path: Path) -> None:
    """Business against calendar time through March 2025 (clocks go forward on the 9th)."""
    start, end = datetime(2025, 3, 1, tzinfo=ZONE), datetime(2025, 4, 1, tzinfo=ZONE)
    times = quarter_hours(start, end)
    bus = [cal.get_bus_ttx(start, t) for t in times]
    calendar = [tessel.Calendar.get_cal_ttx(start, t) for t in times]
    change = datetime(2025, 3, 9, 7, tzinfo=timezone.utc)  # 02:00 EST becomes 03:00 EDT

    fig = plt.figure(figsize=(11, 8))
    grid = fig.add_gridspec(2, 2, height_ratios=[1.5, 1])
    top = fig.add_subplot(grid[0, :])
    top.plot(times, bus, label="business time, get_bus_ttx(1 March, t)", color="#3f51b5")
    top.plot(times, calendar, label="calendar time, get_cal_ttx(1 March, t)", color="#e65100")
    top.axvline(change, color="grey", linestyle=":", linewidth=1)
    top.annotate("9 March 02:00 EST → 03:00 EDT", (change, bus[-1] * 0.55), xytext=(8, 0),
                 textcoords="offset points", fontsize=9, color="dimgrey")
    top.xaxis.set_major_locator(mdates.DayLocator(bymonthday=[1, 8, 15, 22, 29], tz=ZONE))
    top.xaxis.set_minor_locator(mdates.DayLocator(tz=ZONE))
    top.xaxis.set_major_formatter(mdates.DateFormatter("%a %d %b", tz=ZONE))
    top.set_xlim(times[0], times[-1])
    top.set_ylabel("years since 1 March 00:00 local")
    top.set_title("Calendar(\"BTCUSDT\"), March 2025 on the local clock (US/Eastern)")
    top.grid(True, which="major", alpha=0.3)
    top.legend(loc="upper left")

    change_night(fig.add_subplot(grid[1, 0]), cal, datetime(2025, 3, 9, tzinfo=ZONE),
                 "9 March: the 02:00 hour is skipped, its weight passes at once")
    change_night(fig.add_subplot(grid[1, 1]), cal, datetime(2025, 11, 2, tzinfo=ZONE),
                 "2 November: the 01:00 hour repeats, business time steps back")
    fig.tight_layout()
    fig.savefig(path, dpi=100)
    plt.close(fig)


def delta(path: Path) -> None:
    """b76_delta and b76_gamma beside finite differences of b76_fairvalue."""
    strike, ttx, vol, h = 100.0, 0.5, 0.3, 1e-3
    fwds = [60.0 + 0.5 * i for i in range(161)]
    value = lambda f: tessel.b76_fairvalue(f, strike, ttx, vol, "call")  # noqa: E731
    textbook_delta = [(value(f + h) - value(f - h)) / (2 * h) for f in fwds]
    second = [(value(f + h) - 2 * value(f) + value(f - h)) / (h * h) for f in fwds]
    dots = slice(None, None, 8)

    fig, (left, right) = plt.subplots(1, 2, figsize=(11, 4))
    left.plot(fwds, textbook_delta, color="#e65100", label="textbook delta N(d1): central difference")
    left.plot(fwds, [tessel.b76_delta(f, strike, ttx, vol, "call") for f in fwds], color="#3f51b5",
              label="b76_delta")
    left.set_xlabel("forward (strike 100, ttx 0.5, vol 0.3)")
    left.set_title("b76_delta is not the textbook delta", fontsize=10)
    left.legend(fontsize=8)
    right.plot(fwds, [tessel.b76_delta(f, strike, ttx, vol, "call") for f in fwds], color="#3f51b5",
               label="b76_delta = D·φ(d1)/(Fσ√T)")
    right.plot(fwds[dots], second[dots], "o", color="#e65100", markersize=4,
               label="∂²V/∂F²: second difference of b76_fairvalue")
    right.plot(fwds, [100 * tessel.b76_gamma(f, strike, ttx, vol) for f in fwds], color="#2e7d32",
               linestyle="--", label="100 × b76_gamma = 100 × b76_delta / F")
    right.set_xlabel("forward")
    right.set_title("b76_delta is the textbook gamma ∂²V/∂F²", fontsize=10)
    right.legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(path, dpi=100)
    plt.close(fig)


def main(out: Path) -> None:
    out.mkdir(parents=True, exist_ok=True)
    cal = tessel.Calendar("BTCUSDT")
    week(cal, out / "calendar_week.png")
    month(cal, out / "calendar_month.png")
    delta(out / "b76_delta.png")


if __name__ == "__main__":
    main(Path(sys.argv[1]))
