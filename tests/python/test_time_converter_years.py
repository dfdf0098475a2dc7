"""tests/python/test_time_converter_years.py: New York time through K7RTimeConverter follows each
year's own daylight-saving rule, as the system's time zone database gives it: every hour within a
day of each clock change from 2000 to 2037 (and a few later years), both ways, against Python's
zoneinfo."""

import datetime
import os
import shutil
import textwrap
import zoneinfo

import pytest

import dedezi
from helpers import new_session, run_python

pytestmark = pytest.mark.timeout(120)

Zone = dedezi.K7RTimeConverter.TimeZone
D = datetime.datetime
UTC = datetime.timezone.utc
HOUR = datetime.timedelta(hours=1)
NEW_YORK = zoneinfo.ZoneInfo("America/New_York")


def clock_changes(year):
    """The UTC hours at which New York's offset changes in `year`."""
    changes, moment = [], D(year, 1, 1, tzinfo=UTC)
    offset = moment.astimezone(NEW_YORK).utcoffset()
    while moment.year == year:
        moment += HOUR
        now = moment.astimezone(NEW_YORK).utcoffset()
        if now != offset:
            changes.append(moment)
            offset = now
    return changes


# Past 2037 the database's files give a rule, not transitions: a few of those years too.
YEARS = list(range(2000, 2038)) + [2038, 2050, 2099]
CHANGES = [change for year in YEARS for change in clock_changes(year)]


def test_the_database_gives_two_changes_a_year():
    assert len(CHANGES) == 2 * len(YEARS)


@pytest.fixture
def converter(sim):
    session, _ = new_session(sim)
    return session.time_converter


def test_every_hour_near_each_change_both_ways(converter):
    wrong = []
    for change in CHANGES:
        for step in range(-24, 25):
            utc = change + step * HOUR
            expected = utc.astimezone(NEW_YORK).replace(tzinfo=None)
            got = converter.convert(utc.replace(tzinfo=None), Zone.UTC, Zone.EST)
            if got != expected:
                wrong.append(("to New York", utc, got, expected))
            # A wall-clock hour: skipped ones read with the offset before the change, repeated
            # ones as the first (zoneinfo's fold=0 does both).
            wall = change.astimezone(NEW_YORK).replace(tzinfo=None, minute=0) + step * HOUR
            expected = wall.replace(tzinfo=NEW_YORK).astimezone(UTC).replace(tzinfo=None)
            got = converter.convert(wall, Zone.EST, Zone.UTC)
            if got != expected:
                wrong.append(("from New York", wall, got, expected))
    assert wrong == []


@pytest.mark.parametrize("utc, new_york", [
    (D(2005, 3, 20, 12), D(2005, 3, 20, 7)),     # before 2007 daylight time began in April
    (D(2006, 4, 2, 6, 59), D(2006, 4, 2, 1, 59)),
    (D(2006, 4, 2, 7), D(2006, 4, 2, 3)),
    (D(2006, 10, 29, 5, 59), D(2006, 10, 29, 1, 59)),  # and ended in late October
    (D(2006, 11, 3, 12), D(2006, 11, 3, 7)),
    (D(2007, 3, 11, 7), D(2007, 3, 11, 3)),
])
def test_years_before_and_after_the_2007_rule(converter, utc, new_york):
    assert converter.convert(utc, Zone.UTC, Zone.EST) == new_york
    assert converter.convert(new_york, Zone.EST, Zone.UTC) == utc


def test_the_rules_come_from_the_database_named_by_tzdir(tmp_path):
    # A database whose New York is London's: the converter follows it. With none at all, it
    # keeps the rule New York has followed since 2007.
    london = tmp_path / "london" / "America"
    london.mkdir(parents=True)
    shutil.copy(os.path.join("/usr/share/zoneinfo", "Europe", "London"), london / "New_York")
    code = textwrap.dedent("""
        import datetime, dedezi
        converter = dedezi.K7RTransport.create_session().time_converter
        Zone = dedezi.K7RTimeConverter.TimeZone
        for moment in (datetime.datetime(2005, 3, 20, 12), datetime.datetime(2005, 7, 1, 12)):
            print(converter.convert(moment, Zone.UTC, Zone.EST).strftime("%H:%M"))
    """)
    runs = {name: run_python(code, env={"TZDIR": str(tmp_path / name)}) for name in ("london", "none")}
    assert {name: (rc, out.split(), err) for name, (rc, out, err) in runs.items()} == {
        "london": (0, ["12:00", "13:00"], ""),
        "none": (0, ["08:00", "08:00"], "")}
