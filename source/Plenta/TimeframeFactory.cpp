// source/Plenta/TimeframeFactory.cpp: the TimeframeFactory class, which builds the timeframes of
// history requests from an identifier or from a unit and a size.
#include <boost/python.hpp>

#include <string>

#include <plenta/Plenta.h>

#include "K7R/K7RTimeframe.h"
#include "LibraryErrors.h"
#include "ObjectHandles.h"
#include "Registrations.h"

namespace bp = boost::python;

namespace {

using namespace vexa2::python;
using plenta::ITimeframeFactory;

// The error is raised first, so a timeframe that came with one is not leaked: it is handed to
// the handle before the raise.
bp::object finish(IK7RTimeframe* timeframe, plenta::IError* error)
{
    LibraryHandle<IK7RTimeframe> held = makeTimeframePtr(timeframe);
    raisePlentaError(error, true);
    if (!held)
        return bp::object();
    return bp::object(held);
}

bp::object create(ITimeframeFactory& factory, const std::string& id)
{
    plenta::IError* error = nullptr;
    IK7RTimeframe* timeframe = factory.create(id.c_str(), &error);
    return finish(timeframe, error);
}

bp::object createByUnit(ITimeframeFactory& factory, K7RTimeframeUnit unit, int size)
{
    plenta::IError* error = nullptr;
    IK7RTimeframe* timeframe = factory.createByUnit(unit, size, &error);
    return finish(timeframe, error);
}

}  // namespace

void exportTimeframeFactory()
{
    bp::class_<ITimeframeFactory, LibraryHandle<ITimeframeFactory>, boost::noncopyable>(
        "TimeframeFactory", "The factory of standard or custom timeframes.", bp::no_init)
        .def("create", &create, "Creates a timeframe from a string.")
        .def("create_by_unit", &createByUnit, "Creates a timeframe.");
}
