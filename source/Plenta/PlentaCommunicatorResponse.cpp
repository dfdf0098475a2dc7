// source/Plenta/PlentaCommunicatorResponse.cpp: the PlentaCommunicatorResponse class: the historical
// prices that answer a request, opaque until handed back to create_response_reader.
#include <boost/python.hpp>

#include <plenta/Plenta.h>

#include "ObjectHandles.h"
#include "Registrations.h"

void exportPlentaCommunicatorResponse()
{
    namespace bp = boost::python;
    using plenta::IPlentaCommunicatorResponse;

    bp::class_<IPlentaCommunicatorResponse,
               vexa2::python::LibraryHandle<IPlentaCommunicatorResponse>, boost::noncopyable>(
        "PlentaCommunicatorResponse", "Reserved for future use.", bp::no_init);
}
