// source/K7R/K7RTimeConverter.cpp: the K7RTimeConverter class, which converts a datetime between
// the library's time zones (UTC, local, EST and server time), with its nested TimeZone enum.
#include <boost/python.hpp>

#include <velvix/Velvix.h>

#include "DateTime.h"
#include "Enums.h"
#include "K7R/K7RSessionServices.h"
#include "ObjectHandles.h"

namespace {

namespace bp = boost::python;
using namespace vexa2::python;
using TimeZone = IK7RTimeConverter::TimeZone;

// The date goes to the library as an OLE date at whole seconds (a refused date raises before the
// library is called) and comes back as a naive datetime.
bp::object convert(IK7RTimeConverter& converter, const bp::object& date, TimeZone from, TimeZone to)
{
    return oleDateToPython(converter.convert(pythonToOleDate(date), from, to));
}

}  // namespace

void exportTimeConverter()
{
    bp::class_<IK7RTimeConverter, LibraryHandle<IK7RTimeConverter>, boost::noncopyable> converter(
        "K7RTimeConverter", "A date/time converter between the time zones.", bp::no_init);
    converter.def("convert", &convert, "Converts the date/time between time zones.");

    bp::scope inConverter(converter);
    Enum<TimeZone>("TimeZone",
                   "The enum specifies a set of values representing the time zones the "
                   "date/time can be converted between by K7RTimeConverter.")
        .value("UTC", TimeZone::UTC)
        .value("LOCAL", TimeZone::Local)
        .value("EST", TimeZone::EST)
        .value("SERVER", TimeZone::Server)
        .export_values();
}
