"""tests/python/test_time_converter.py: the K7RTimeConverter class and its TimeZone enum: New York
time with its daylight-saving rules, the process's local zone, the demo server's UTC, whole
seconds, and the date errors raised before the library is called."""

import datetime
import textwrap

import pytest

import dedezi
from helpers import new_session, run_python

pytestmark = pytest.mark.timeout(60)

Zone = dedezi.K7RTimeConverter.TimeZone
UTC, LOCAL, EST, SERVER = Zone.UTC, Zone.LOCAL, Zone.EST, Zone.SERVER
D = datetime.datetime


@pytest.fixture
def converter(sim):
    session, _ = new_session(sim)
    return session.time_converter


@pytest.mark.parametrize("utc, new_york", [
    (D(2026, 7, 1, 12), D(2026, 7, 1, 8)),              # summer: four hours behind
    (D(2026, 1, 15, 12), D(2026, 1, 15, 7)),            # winter: five
    (D(2026, 1, 15, 3, 30), D(2026, 1, 14, 22, 30)),    # the day before
    (D(2026, 3, 8, 6, 59, 59), D(2026, 3, 8, 1, 59, 59)),  # daylight saving starts at 02:00
    (D(2026, 3, 8, 7), D(2026, 3, 8, 3)),
    (D(2026, 11, 1, 5, 59, 59), D(2026, 11, 1, 1, 59, 59)),  # and ends at 02:00
    (D(2026, 11, 1, 22), D(2026, 11, 1, 17)),           # the trading day ends at 17:00 there
])
def test_new_york_time(converter, utc, new_york):
    assert converter.convert(utc, UTC, EST) == new_york
    assert converter.convert(new_york, EST, UTC) == utc


def test_times_the_clocks_pass_twice_or_skip(converter):
    # 01:30 on the first Sunday of November comes in daylight time, then again in standard time:
    # a wall-clock time means the first.
    assert converter.convert(D(2026, 11, 1, 6, 30), UTC, EST) == D(2026, 11, 1, 1, 30)
    assert converter.convert(D(2026, 11, 1, 1, 30), EST, UTC) == D(2026, 11, 1, 5, 30)
    # 02:30 on the second Sunday of March never shows on a clock there: read with standard time.
    assert converter.convert(D(2026, 3, 8, 2, 30), EST, UTC) == D(2026, 3, 8, 7, 30)


def test_the_demo_server_runs_on_utc(converter):
    moment = D(2026, 7, 1, 12, 0, 5)
    assert converter.convert(moment, SERVER, UTC) == moment
    assert converter.convert(moment, SERVER, EST) == converter.convert(moment, UTC, EST)


@pytest.mark.parametrize("zone", [UTC, LOCAL, EST, SERVER])
def test_equal_zones_give_the_date_back_at_whole_seconds(converter, zone):
    result = converter.convert(D(2026, 3, 8, 2, 30, 15, 999_999), zone, zone)
    assert result == D(2026, 3, 8, 2, 30, 15) and type(result) is D and result.tzinfo is None


def test_time_zone_information_is_ignored(converter):
    aware = D(2026, 1, 15, 12, tzinfo=datetime.timezone(datetime.timedelta(hours=3)))
    assert converter.convert(aware, UTC, EST) == D(2026, 1, 15, 7)


@pytest.mark.parametrize("value", [45293.0, None, "2026-01-15 12:00", datetime.date(2026, 1, 15)])
def test_anything_but_a_datetime_is_refused_before_the_library(sim, converter, value):
    with pytest.raises(ValueError, match="^Expected DateTime type$"):
        converter.convert(value, UTC, EST)
    assert sim.journal("IK7RTimeConverter::convert") == []


def test_the_zones_and_the_ole_date_reach_the_library(sim, converter):
    converter.convert(D(2024, 1, 2, 12), EST, LOCAL)
    assert [args for _, args in sim.journal("IK7RTimeConverter::convert")] == [(45293.5, 2, 1)]


def test_a_date_the_library_refuses(sim, converter):
    sim.fault("CK7RDateUtils::CTimeToOleTime", "false")
    with pytest.raises(ValueError, match="^Can't convert time$"):
        converter.convert(D(2026, 1, 15), UTC, EST)
    sim.fault("CK7RDateUtils::OleTimeToCTime", "false")
    with pytest.raises(IndexError, match="Day of month value is out of range 1..31"):
        converter.convert(D(2026, 1, 15), UTC, EST)


def test_local_time_follows_the_process_zone():
    # The C library reads TZ when the process starts; a POSIX rule needs no zone files.
    code = textwrap.dedent("""
        import datetime
        import dedezi
        Zone = dedezi.K7RTimeConverter.TimeZone
        converter = dedezi.K7RTransport.create_session().time_converter
        for moment in (datetime.datetime(2026, 7, 1, 12), datetime.datetime(2026, 1, 15, 12)):
            local = converter.convert(moment, Zone.UTC, Zone.LOCAL)
            print(local.isoformat(), converter.convert(local, Zone.LOCAL, Zone.UTC) == moment)
    """)
    returncode, out, err = run_python(code, env={"TZ": "CET-1CEST,M3.5.0,M10.5.0/3"})
    assert returncode == 0, err
    assert out.split() == ["2026-07-01T14:00:00", "True", "2026-01-15T13:00:00", "True"]


def test_time_zone_values_are_nested_and_set_on_the_class():
    assert [(name, int(value)) for name, value in Zone.names.items()] == \
        [("UTC", 0), ("LOCAL", 1), ("EST", 2), ("SERVER", 3)]
    for name in Zone.names:
        assert getattr(dedezi.K7RTimeConverter, name) is getattr(Zone, name)
    assert not hasattr(dedezi, "TimeZone") and not hasattr(dedezi, "SERVER")


@pytest.mark.parametrize("obj, doc", [
    (dedezi.K7RTimeConverter, "A date/time converter between the time zones."),
    (dedezi.K7RTimeConverter.convert, "Converts the date/time between time zones."),
    (Zone, "The enum specifies a set of values representing the time zones the date/time can be "
           "converted between by K7RTimeConverter."),
])
def test_docstrings(obj, doc):
    assert obj.__doc__.lstrip("\n") == doc


def test_no_python_constructor():
    with pytest.raises(RuntimeError):
        dedezi.K7RTimeConverter()
