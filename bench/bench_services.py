"""Time conversion: K7RTimeConverter.convert from UTC to New York time, against the same
conversion through the standard library's zoneinfo."""
import datetime
import zoneinfo

from common import best_of, report

import dedezi
import velvix_sim

CALLS = 100_000


def main():
    velvix_sim.reset()
    Zone = dedezi.K7RTimeConverter.TimeZone
    converter = dedezi.K7RTransport.create_session().time_converter
    moments = [datetime.datetime(2026, 1, 1) + datetime.timedelta(minutes=37 * i) for i in range(1000)]
    new_york, utc = zoneinfo.ZoneInfo("America/New_York"), datetime.timezone.utc
    assert converter.convert(moments[500], Zone.UTC, Zone.EST) == \
        moments[500].replace(tzinfo=utc).astimezone(new_york).replace(tzinfo=None)

    def converted():
        convert, est, utc_zone = converter.convert, Zone.EST, Zone.UTC
        for _ in range(CALLS // len(moments)):
            for moment in moments:
                convert(moment, utc_zone, est)

    def baseline():
        for _ in range(CALLS // len(moments)):
            for moment in moments:
                moment.replace(tzinfo=utc).astimezone(new_york).replace(tzinfo=None)

    report("time converter, UTC to New York", best_of(converted), best_of(baseline), CALLS, "call")


if __name__ == "__main__":
    main()
