// source/DateTime.cpp: the converters between Python datetime values and ptime, and the OLE date
// road through the library's CK7RDateUtils. Dates cross here by the hundred thousand (bar
// histories), so the normal path makes no Python-level call and throws nothing.
#include "DateTime.h"

#include "Messages.h"
#include "Registrations.h"

#include <datetime.h>

#include <boost/date_time/gregorian/greg_date.hpp>
#include <boost/date_time/posix_time/conversion.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/python/converter/registry.hpp>
#include <boost/python/converter/rvalue_from_python_data.hpp>
#include <boost/python/errors.hpp>
#include <boost/python/handle.hpp>
#include <boost/python/object.hpp>

#include <cstdint>
#include <stdexcept>

#include "velvix/K7RBase.h"

namespace {

using boost::posix_time::ptime;

// The date library's own lower bound; the upper one is what a Python datetime can hold. Boost
// 1.74's text names 9999, so the range error is raised here with the module's text.
constexpr int kMinYear = 1400;
constexpr int kMaxYear = 9999;
constexpr const char* kYearOutOfRange = "Year is out of valid range: 1400..10000";

// PyDateTimeAPI (from datetime.h) is this file's own; it is set once and kept for the process.
bool importDateTimeApi()
{
    if (PyDateTimeAPI == nullptr)
        PyDateTimeAPI = static_cast<PyDateTime_CAPI*>(PyCapsule_Import("datetime.datetime_CAPI", 0));
    return PyDateTimeAPI != nullptr;
}

bool isLeapYear(std::int64_t year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(std::int64_t year, int month)
{
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// The date library's range errors, in its order of checking: day, month, year, then the day
// against its month.
void checkDate(std::int64_t year, int month, int day)
{
    if (day < 1 || day > 31)
        throw boost::gregorian::bad_day_of_month();
    if (month < 1 || month > 12)
        throw boost::gregorian::bad_month();
    if (year < kMinYear || year > kMaxYear)
        throw std::out_of_range(kYearOutOfRange);
    if (day > daysInMonth(year, month))
        throw boost::gregorian::bad_day_of_month(std::string("Day of month is not valid for year"));
}

bool isPlainTimeOfDay(int hour, int minute, int second)
{
    return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60;
}

// Fields already valid for datetime. Null with the Python error set on failure.
PyObject* newDateTime(int year, int month, int day, int hour, int minute, int second, int microsecond)
{
    if (!importDateTimeApi())
        return nullptr;
    return PyDateTimeAPI->DateTime_FromDateAndTime(year, month, day, hour, minute, second, microsecond,
                                                   Py_None, PyDateTimeAPI->DateTimeType);
}

PyObject* newDateTimeOrThrow(int year, int month, int day, int hour, int minute, int second)
{
    PyObject* result = newDateTime(year, month, day, hour, minute, second, 0);
    if (result == nullptr)
        boost::python::throw_error_already_set();
    return result;
}

PyTypeObject const* dateTimeType()
{
    return importDateTimeApi() ? PyDateTimeAPI->DateTimeType : nullptr;
}

void* convertibleToPtime(PyObject* object)
{
    return vexa2::python::isPyDateTime(object) ? object : nullptr;
}

void constructPtimeFromPyDateTime(PyObject* object, boost::python::converter::rvalue_from_python_stage1_data* data)
{
    void* storage =
        reinterpret_cast<boost::python::converter::rvalue_from_python_storage<ptime>*>(data)->storage.bytes;
    // A range error leaves the storage unbuilt, and the binding library turns it into IndexError.
    new (storage) ptime(vexa2::python::ptimeFromPyDateTime(object));
    data->convertible = storage;
}

PyObject* convertPtimeToPython(const void* value)
{
    return vexa2::python::ptimeToPyDateTime(*static_cast<const ptime*>(value));
}

}  // namespace

namespace vexa2 { namespace python {

bool isPyDateTime(PyObject* object)
{
    if (object == nullptr)
        return false;
    if (!importDateTimeApi())
    {
        PyErr_Clear();  // no datetime module at all: nothing can be a datetime
        return false;
    }
    return PyDateTime_Check(object);
}

ptime ptimeFromPyDateTime(PyObject* object)
{
    const int year = PyDateTime_GET_YEAR(object);
    const int month = PyDateTime_GET_MONTH(object);
    const int day = PyDateTime_GET_DAY(object);
    checkDate(year, month, day);
    const std::int64_t timeOfDay =
        ((std::int64_t{PyDateTime_DATE_GET_HOUR(object)} * 60 + PyDateTime_DATE_GET_MINUTE(object)) * 60 +
         PyDateTime_DATE_GET_SECOND(object)) * 1000000 +
        PyDateTime_DATE_GET_MICROSECOND(object);
    return ptime(boost::gregorian::date(year, month, day), boost::posix_time::microseconds(timeOfDay));
}

PyObject* ptimeToPyDateTime(const ptime& t)
{
    if (t.is_special())
    {
        PyErr_SetString(PyExc_ValueError, msgCannotConvertTime().c_str());
        return nullptr;
    }
    const auto ymd = t.date().year_month_day();
    const std::int64_t timeOfDay = t.time_of_day().total_microseconds();  // within one day
    const std::int64_t seconds = timeOfDay / 1000000;
    return newDateTime(ymd.year, ymd.month, ymd.day, static_cast<int>(seconds / 3600),
                       static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60),
                       static_cast<int>(timeOfDay % 1000000));
}

PyObject* calendarToPyDateTime(const std::tm& record)
{
    const std::int64_t year = std::int64_t{record.tm_year} + 1900;
    const int month = record.tm_mon + 1;
    checkDate(year, month, record.tm_mday);
    if (isPlainTimeOfDay(record.tm_hour, record.tm_min, record.tm_sec))
        return newDateTimeOrThrow(static_cast<int>(year), month, record.tm_mday, record.tm_hour, record.tm_min,
                                  record.tm_sec);
    // Fields past their range (a leap second) carry into the next unit as the date library does.
    const ptime t(boost::gregorian::date(static_cast<unsigned short>(year), month, record.tm_mday),
                  boost::posix_time::hours(record.tm_hour) + boost::posix_time::minutes(record.tm_min) +
                      boost::posix_time::seconds(record.tm_sec));
    PyObject* result = ptimeToPyDateTime(t);
    if (result == nullptr)
        boost::python::throw_error_already_set();
    return result;
}

PyObject* oleDateToPyDateTime(double oleDate)
{
    std::tm record{};
    // Not tested: a failure leaves the zeroed record, and its day 0 is the error.
    CK7RDateUtils::OleTimeToCTime(oleDate, &record);
    return calendarToPyDateTime(record);
}

boost::python::object oleDateToPython(double oleDate)
{
    return boost::python::object(boost::python::handle<>(oleDateToPyDateTime(oleDate)));
}

double pythonToOleDate(const boost::python::object& value)
{
    if (!isPyDateTime(value.ptr()))
        raiseMessage(PyExc_ValueError, msgExpectedDateTime());
    // to_tm fills the day of week and of year, sets no daylight saving (-1) and keeps whole seconds.
    const std::tm record = boost::posix_time::to_tm(ptimeFromPyDateTime(value.ptr()));
    double oleDate = 0.0;
    if (!CK7RDateUtils::CTimeToOleTime(&record, &oleDate))
        raiseMessage(PyExc_ValueError, msgCannotConvertTime());
    return oleDate;
}

} }  // namespace vexa2::python

void registerDateTimeConverters()
{
    namespace converter = boost::python::converter;
    if (!importDateTimeApi())
        boost::python::throw_error_already_set();
    // Once per process: another load of the module (or a second call) finds them in place.
    const converter::registration* known = converter::registry::query(boost::python::type_id<ptime>());
    if (known != nullptr && known->m_to_python != nullptr)
        return;
    converter::registry::push_back(&convertibleToPtime, &constructPtimeFromPyDateTime,
                                   boost::python::type_id<ptime>(), &dateTimeType);
    converter::registry::insert(&convertPtimeToPython, boost::python::type_id<ptime>(), &dateTimeType);
}
