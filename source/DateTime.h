// source/DateTime.h: the one road between Python datetime values, the date library's ptime and
// the trading library's OLE dates. Every binding that crosses the boundary with a date uses it.
#pragma once

#include <Python.h>

#include <boost/date_time/posix_time/ptime.hpp>
#include <boost/python/object_fwd.hpp>

#include <ctime>

namespace vexa2 { namespace python {

// A library date as a naive datetime at whole seconds. The library's conversion result is not
// tested: a failed conversion leaves a zeroed record, whose day 0 raises IndexError.
boost::python::object oleDateToPython(double oleDate);

// The same, as a new reference (for callers filling containers themselves).
PyObject* oleDateToPyDateTime(double oleDate);

// A calendar record (tm_year from 1900, tm_mon from 0) as a naive datetime, new reference. The date
// library's range errors (std::out_of_range, IndexError in Python) are thrown for a bad date.
PyObject* calendarToPyDateTime(const std::tm& record);

// A Python date handed to the library: ValueError 1034 for anything but a datetime, IndexError for
// a year outside 1400..10000, ValueError 1035 when the library refuses the fields. Microseconds are
// dropped; the time zone is ignored.
double pythonToOleDate(const boost::python::object& value);

// A new datetime, built through the interpreter's C interface. Null with ValueError 1035 set for a
// special (not-a-date or infinite) ptime.
PyObject* ptimeToPyDateTime(const boost::posix_time::ptime& t);

// A datetime.datetime or an instance of a subtype.
bool isPyDateTime(PyObject* object);

// The fields of a datetime (isPyDateTime must hold) as a ptime; its wall-clock fields, tzinfo
// ignored. Throws the date library's range errors.
boost::posix_time::ptime ptimeFromPyDateTime(PyObject* object);

} }  // namespace vexa2::python
