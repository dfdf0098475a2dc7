// source/Plenta/PlentaCommunicator.h: what the communicator's bindings share between their sources:
// the date bounds of a history request, the reader made of a response, the two long members and
// the registrations that PlentaCommunicator's own registration runs first.
#pragma once

#include <boost/python/object_fwd.hpp>

#include <string>

#include <plenta/Plenta.h>

namespace vexa2 { namespace python {

// None is the library's "no bound" (0.0); anything else goes through the datetime road.
double historyDate(const boost::python::object& date);

// createResponseReader with a fresh error slot; None for no reader, otherwise the snapshot reader
// wrapper (which keeps its own reference; the returned one is given back here).
boost::python::object makeHistoryReader(plenta::IPlentaCommunicator& communicator,
                                        plenta::IPlentaCommunicatorResponse* response);

// The blocking fetch: waits, with the interpreter lock let go, for the report on its own request.
boost::python::object getHistory(plenta::IPlentaCommunicator& communicator,
                                 const std::string& instrument, IK7RTimeframe* timeframe,
                                 const boost::python::object& from, const boost::python::object& to,
                                 int quotesCount);

// The timeframes the communicator serves for `instrument` (None: all of them), loading the quotes
// cache's instrument list first if it has none yet.
boost::python::object timeframeCollection(plenta::IPlentaCommunicator& communicator,
                                          const boost::python::object& instrument);

} }  // namespace vexa2::python

void exportPlentaCommunicatorListener();
void exportPlentaCommunicatorStatusListener();
void exportPlentaErrors();
