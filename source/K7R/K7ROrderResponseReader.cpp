// source/K7R/K7ROrderResponseReader.cpp: K7ROrderResponseReader, the reader of the identifier of
// an order just created. The library's reader reaches Python as it is, through a handle.
#include <boost/python.hpp>

#include "K7R/K7RResponse.h"
#include "ObjectHandles.h"

namespace bp = boost::python;

void exportOrderResponseReader()
{
    using Reader = IK7ROrderResponseReader;
    bp::class_<Reader, vexa2::python::LibraryHandle<Reader>, boost::noncopyable>(
        "K7ROrderResponseReader", "A reader of a response belonging to the CREATE_ORDER_RESPONSE type.",
        bp::no_init)
        .add_property("order_id", &Reader::getOrderId, "Gets the ID of the created order.")
        .def("is_under_dealer_intervention", &Reader::isUnderDealerIntervention, "Reserved for future use.");
}
