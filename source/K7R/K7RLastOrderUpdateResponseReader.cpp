// source/K7R/K7RLastOrderUpdateResponseReader.cpp: K7RLastOrderUpdateResponseReader, the reader of
// the last operation on an order and of the order's row.
#include <boost/python.hpp>

#include "K7R/K7RResponse.h"
#include "ObjectHandles.h"

namespace bp = boost::python;

namespace {

// The plain order row class, whichever row object the library gives: the handle's static type
// picks the class.
bp::object lastOrderUpdateReaderOrder(IK7RLastOrderUpdateResponseReader& reader)
{
    return vexa2::python::wrapApiObject(reader.getOrder());
}

}  // namespace

void exportLastOrderUpdateResponseReader()
{
    using Reader = IK7RLastOrderUpdateResponseReader;
    bp::class_<Reader, vexa2::python::LibraryHandle<Reader>, boost::noncopyable>(
        "K7RLastOrderUpdateResponseReader",
        "The class reads a response to a request for the current state of an order.", bp::no_init)
        .add_property("update_type", &Reader::getUpdateType,
                      "Gets the last operation that has been performed with an order.")
        .add_property("order", &lastOrderUpdateReaderOrder,
                      "Gets an instance of the class that provides access to order information.");
}
