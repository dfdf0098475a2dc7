// tests/native/test_datetime.cpp: the datetime converters and the OLE date road, exercised through
// functions bound as the module binds them: fields, microseconds, time zones ignored, the date
// library's range errors and their order, and the library's conversion failures.
#include "DateTime.h"
#include "GILGuard.h"
#include "PythonOutcome.h"
#include "Registrations.h"

#include "core/World.h"

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/python.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <functional>
#include <limits>
#include <string>

namespace bp = boost::python;
using boost::gregorian::date;
using boost::posix_time::hours;
using boost::posix_time::microseconds;
using boost::posix_time::minutes;
using boost::posix_time::ptime;
using boost::posix_time::seconds;
using vexa2::python::GILGuard;

namespace {

constexpr const char* kYearText = "Year is out of valid range: 1400..10000";
constexpr const char* kDayText = "Day of month value is out of range 1..31";
constexpr const char* kMonthText = "Month number is out of range 1..12";
constexpr const char* kDayOfMonthText = "Day of month is not valid for year";

// ---- what the module's bound functions do with dates ----

ptime echo(const ptime& t)
{
    return t;
}

double toOle(const bp::object& value)
{
    return vexa2::python::pythonToOleDate(value);
}

bp::object fromOle(double oleDate)
{
    return vexa2::python::oleDateToPython(oleDate);
}

bp::object throughOle(const bp::object& value)
{
    return vexa2::python::oleDateToPython(vexa2::python::pythonToOleDate(value));
}

bp::object fromCalendar(int year, int month, int day, int hour, int minute, int second)
{
    std::tm record{};
    record.tm_year = year - 1900;
    record.tm_mon = month - 1;
    record.tm_mday = day;
    record.tm_hour = hour;
    record.tm_min = minute;
    record.tm_sec = second;
    return bp::object(bp::handle<>(vexa2::python::calendarToPyDateTime(record)));
}

// Kept for the process: they must not be destroyed after the interpreter lock is let go.
struct Bound
{
    bp::object echo = bp::make_function(&::echo);
    bp::object toOle = bp::make_function(&::toOle);
    bp::object fromOle = bp::make_function(&::fromOle);
    bp::object throughOle = bp::make_function(&::throughOle);
    bp::object fromCalendar = bp::make_function(&::fromCalendar);
    bp::dict names;

    Bound()
    {
        names["__builtins__"] = bp::import("builtins");
        bp::exec("import datetime\n"
                 "class Sub(datetime.datetime): pass\n"
                 "utc2 = datetime.timezone(datetime.timedelta(hours=2))\n",
                 names, names);
    }
};

Bound& bound()
{
    static Bound* instance = new Bound;
    return *instance;
}

bp::object py(const char* expression)
{
    return bp::eval(expression, bound().names, bound().names);
}

std::string repr(const bp::object& value)
{
    return bp::extract<std::string>(bp::object(bp::handle<>(PyObject_Repr(value.ptr()))))();
}

// What a call gives back: a datetime shown by its repr (type, fields and tzinfo at once), or an
// error of an exact type and text (text null: the type alone is checked).
struct Expected
{
    const char* repr;
    const char* errorType;
    const char* errorText;
};

constexpr Expected gives(const char* repr)
{
    return {repr, nullptr, nullptr};
}

constexpr Expected raises(const char* type, const char* text)
{
    return {nullptr, type, text};
}

void expectOutcome(const std::function<bp::object()>& call, const Expected& expected)
{
    std::string result;
    const PythonOutcome outcome = pythonOutcomeOf([&] { result = repr(call()); });
    if (expected.repr != nullptr)
    {
        EXPECT_FALSE(outcome.raised) << outcome;
        EXPECT_EQ(result, expected.repr);
        return;
    }
    EXPECT_TRUE(outcome.raised) << "gave " << result;
    EXPECT_EQ(outcome.type, expected.errorType);
    if (expected.errorText != nullptr)
    {
        EXPECT_EQ(outcome.text, expected.errorText);
    }
}

class DateTimeConversion : public testing::Test
{
protected:
    void SetUp() override
    {
        sim::world().reset();
        registerDateTimeConverters();
    }
    void TearDown() override { sim::world().faults().clear(); }

    GILGuard m_lock;
};

// ---- datetime to ptime and back ----

struct PythonCase
{
    const char* input;
    Expected expected;
};

const PythonCase kThroughPtime[] = {
    {"datetime.datetime(2021, 7, 21, 10, 30, 15, 250000)", gives("datetime.datetime(2021, 7, 21, 10, 30, 15, 250000)")},
    {"datetime.datetime(1400, 1, 1)", gives("datetime.datetime(1400, 1, 1, 0, 0)")},
    {"datetime.datetime(9999, 12, 31, 23, 59, 59, 999999)", gives("datetime.datetime(9999, 12, 31, 23, 59, 59, 999999)")},
    {"datetime.datetime(2021, 7, 21, 10, 0, tzinfo=utc2)", gives("datetime.datetime(2021, 7, 21, 10, 0)")},
    {"Sub(2020, 2, 29, 1, 2, 3)", gives("datetime.datetime(2020, 2, 29, 1, 2, 3)")},
    {"datetime.datetime(1399, 12, 31, 23, 59, 59)", raises("IndexError", kYearText)},
    {"datetime.datetime(1, 1, 1)", raises("IndexError", kYearText)},
    // Not a datetime: the converter refuses it and the binding library reports the mismatch.
    {"datetime.date(2021, 7, 21)", raises("ArgumentError", nullptr)},
    {"'2021-07-21'", raises("ArgumentError", nullptr)},
};

TEST_F(DateTimeConversion, DatetimeArgumentsConvertToPtimeAndBack)
{
    for (const PythonCase& c : kThroughPtime)
    {
        SCOPED_TRACE(c.input);
        expectOutcome([&] { return bound().echo(py(c.input)); }, c.expected);
    }
}

struct PtimeCase
{
    const char* name;
    ptime value;
    Expected expected;
};

TEST_F(DateTimeConversion, PtimeResultsBecomeNaiveDatetimes)
{
    const PtimeCase cases[] = {
        {"sub-second part", ptime(date(2021, 7, 21), hours(10) + minutes(30) + seconds(15) + microseconds(250000)),
         gives("datetime.datetime(2021, 7, 21, 10, 30, 15, 250000)")},
        {"first day", ptime(date(1400, 1, 1)), gives("datetime.datetime(1400, 1, 1, 0, 0)")},
        {"last microsecond", ptime(date(9999, 12, 31), hours(24) - microseconds(1)),
         gives("datetime.datetime(9999, 12, 31, 23, 59, 59, 999999)")},
        {"not a date", ptime(), raises("ValueError", "Can't convert time")},
    };
    for (const PtimeCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        expectOutcome([&] { return bp::object(c.value); }, c.expected);
    }
}

TEST_F(DateTimeConversion, RegisteringAgainKeepsOneConverterEachWay)
{
    registerDateTimeConverters();
    const bp::converter::registration* known = bp::converter::registry::query(bp::type_id<ptime>());
    ASSERT_NE(known, nullptr);
    int fromPython = 0;
    for (const bp::converter::rvalue_from_python_chain* link = known->rvalue_chain; link; link = link->next)
        ++fromPython;
    EXPECT_EQ(fromPython, 1);
    EXPECT_EQ(repr(bound().echo(py("datetime.datetime(2021, 1, 2)"))), "datetime.datetime(2021, 1, 2, 0, 0)");
}

// ---- calendar records: the date library's range errors and their order ----

struct CalendarCase
{
    int year, month, day, hour, minute, second;
    Expected expected;
};

const CalendarCase kCalendar[] = {
    {2020, 2, 29, 23, 59, 59, gives("datetime.datetime(2020, 2, 29, 23, 59, 59)")},
    {2000, 2, 29, 0, 0, 0, gives("datetime.datetime(2000, 2, 29, 0, 0)")},
    {1900, 2, 29, 0, 0, 0, raises("IndexError", kDayOfMonthText)},
    {2021, 2, 29, 0, 0, 0, raises("IndexError", kDayOfMonthText)},
    {2021, 4, 31, 0, 0, 0, raises("IndexError", kDayOfMonthText)},
    // Day first, then month, then year, then the day against its month.
    {1200, 13, 0, 0, 0, 0, raises("IndexError", kDayText)},
    {1200, 13, 32, 0, 0, 0, raises("IndexError", kDayText)},
    {1200, 13, 15, 0, 0, 0, raises("IndexError", kMonthText)},
    {1200, 0, 15, 0, 0, 0, raises("IndexError", kMonthText)},
    {1399, 2, 31, 0, 0, 0, raises("IndexError", kYearText)},
    {10000, 1, 1, 0, 0, 0, raises("IndexError", kYearText)},
    // A leap second carries into the next day, as the date library's time of day does.
    {2021, 7, 21, 23, 59, 60, gives("datetime.datetime(2021, 7, 22, 0, 0)")},
};

TEST_F(DateTimeConversion, CalendarRecordsAreCheckedInTheDateLibrarysOrder)
{
    for (const CalendarCase& c : kCalendar)
    {
        SCOPED_TRACE(testing::Message() << c.year << '-' << c.month << '-' << c.day << ' ' << c.hour << ':'
                                        << c.minute << ':' << c.second);
        expectOutcome([&] { return bound().fromCalendar(c.year, c.month, c.day, c.hour, c.minute, c.second); },
                      c.expected);
    }
}

// ---- the OLE road ----

struct OleCase
{
    const char* name;
    double ole;
    Expected expected;
};

const OleCase kFromOle[] = {
    {"epoch", 0.0, gives("datetime.datetime(1899, 12, 30, 0, 0)")},
    {"Unix epoch noon", 25569.5, gives("datetime.datetime(1970, 1, 1, 12, 0)")},
    {"before the epoch", -1.25, gives("datetime.datetime(1899, 12, 29, 6, 0)")},
    {"first day", -182619.0, gives("datetime.datetime(1400, 1, 1, 0, 0)")},
    {"day before the first", -182620.0, raises("IndexError", kYearText)},
    // The library refuses these: the zeroed record's day 0 is what fails.
    {"far future", 1e12, raises("IndexError", kDayText)},
    {"not a number", std::numeric_limits<double>::quiet_NaN(), raises("IndexError", kDayText)},
};

TEST_F(DateTimeConversion, OleDatesReachPythonAtWholeSeconds)
{
    for (const OleCase& c : kFromOle)
    {
        SCOPED_TRACE(c.name);
        expectOutcome([&] { return bound().fromOle(c.ole); }, c.expected);
    }
}

TEST_F(DateTimeConversion, OleConversionFailureLeavesTheZeroedRecord)
{
    sim::world().faults().arm("CK7RDateUtils::OleTimeToCTime", sim::FaultKind::False);
    expectOutcome([&] { return bound().fromOle(25569.5); }, raises("IndexError", kDayText));
    // One failure only: the next date converts.
    expectOutcome([&] { return bound().fromOle(25569.5); }, gives("datetime.datetime(1970, 1, 1, 12, 0)"));
}

const PythonCase kThroughOle[] = {
    {"datetime.datetime(2021, 7, 21, 10, 30, 15, 250000)", gives("datetime.datetime(2021, 7, 21, 10, 30, 15)")},
    {"datetime.datetime(2021, 7, 21, 10, 0, tzinfo=utc2)", gives("datetime.datetime(2021, 7, 21, 10, 0)")},
    {"Sub(1400, 1, 1, 0, 0, 1)", gives("datetime.datetime(1400, 1, 1, 0, 0, 1)")},
    {"datetime.datetime(9999, 12, 31, 23, 59, 59, 999999)", gives("datetime.datetime(9999, 12, 31, 23, 59, 59)")},
    {"datetime.datetime(1399, 12, 31)", raises("IndexError", kYearText)},
    {"None", raises("ValueError", "Expected DateTime type")},
    {"'2021-07-21 10:30:15'", raises("ValueError", "Expected DateTime type")},
    {"datetime.date(2021, 7, 21)", raises("ValueError", "Expected DateTime type")},
    {"44398.5", raises("ValueError", "Expected DateTime type")},
};

TEST_F(DateTimeConversion, PythonDatesGoToTheLibraryAndBack)
{
    for (const PythonCase& c : kThroughOle)
    {
        SCOPED_TRACE(c.input);
        expectOutcome([&] { return bound().throughOle(py(c.input)); }, c.expected);
    }
}

TEST_F(DateTimeConversion, PythonDatesBecomeOleDatesAtWholeSeconds)
{
    const double ole = bp::extract<double>(bound().toOle(py("datetime.datetime(2021, 7, 21, 10, 30, 15, 999999)")));
    EXPECT_DOUBLE_EQ(ole, 44398.0 + (10 * 3600 + 30 * 60 + 15) / 86400.0);
    EXPECT_DOUBLE_EQ(bp::extract<double>(bound().toOle(py("datetime.datetime(1970, 1, 1, 12)"))), 25569.5);
}

TEST_F(DateTimeConversion, LibraryRefusingTheFieldsRaisesCannotConvert)
{
    sim::world().faults().arm("CK7RDateUtils::CTimeToOleTime", sim::FaultKind::False);
    const PythonOutcome outcome =
        pythonOutcomeOf([&] { bound().toOle(py("datetime.datetime(2021, 7, 21, 10, 30, 15)")); });
    EXPECT_TRUE(outcome.raised);
    EXPECT_EQ(outcome.type, "ValueError");
    EXPECT_EQ(outcome.text, "Can't convert time");
}

}  // namespace
