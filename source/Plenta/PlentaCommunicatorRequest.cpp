// source/Plenta/PlentaCommunicatorRequest.cpp: the PlentaCommunicatorRequest class: a request for
// historical prices, read back as its instrument, range, count and timeframe.
#include <boost/python.hpp>

#include <plenta/Plenta.h>

#include "DateTime.h"
#include "K7R/K7RTimeframe.h"
#include "ObjectHandles.h"
#include "Registrations.h"

namespace bp = boost::python;

namespace {

using plenta::IPlentaCommunicatorRequest;

bp::object fromDate(IPlentaCommunicatorRequest& request)
{
    return vexa2::python::oleDateToPython(request.getFromDate());
}

bp::object toDate(IPlentaCommunicatorRequest& request)
{
    return vexa2::python::oleDateToPython(request.getToDate());
}

// getTimeframe gives a new reference each call: each Python object owns one.
bp::object timeframe(IPlentaCommunicatorRequest& request)
{
    return vexa2::python::timeframeToPython(request.getTimeframe());
}

}  // namespace

void exportPlentaCommunicatorRequest()
{
    const char* const reserved = "Reserved for future use.";

    bp::class_<IPlentaCommunicatorRequest, vexa2::python::LibraryHandle<IPlentaCommunicatorRequest>,
               boost::noncopyable>("PlentaCommunicatorRequest", reserved, bp::no_init)
        .add_property("instrument", &IPlentaCommunicatorRequest::getInstrument, reserved)
        .add_property("from_date", &fromDate, reserved)
        .add_property("to_date", &toDate, reserved)
        .add_property("quotes_Count", &IPlentaCommunicatorRequest::getQuotesCount, reserved)
        .add_property("timeframe", &timeframe, reserved);
}
