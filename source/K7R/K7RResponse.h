// source/K7R/K7RResponse.h: the one mapping from a response to the reader Python receives for it.
#pragma once

#include <boost/python/object_fwd.hpp>

#include <velvix/Velvix.h>

namespace vexa2 { namespace python {

// None for a null factory or response, a type outside the readers' table, a command response or
// a null reader from the factory; a bool for a margin requirements response; else the reader.
boost::python::object createReader(IK7RResponseReaderFactory* factory, IK7RResponse* response);

} }  // namespace vexa2::python

// The reader registrations of exportResponse whose classes are used nowhere else.
void exportLastOrderUpdateResponseReader();
void exportOrderResponseReader();
void exportMarketDataResponseReader();
