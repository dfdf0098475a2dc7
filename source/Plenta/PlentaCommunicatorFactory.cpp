// source/Plenta/PlentaCommunicatorFactory.cpp: the PlentaCommunicatorFactory class, which sets the
// historical-price library's proxy and creates a communicator for a session.
#include <boost/python.hpp>

#include <string>

#include <plenta/Plenta.h>

#include "LibraryErrors.h"
#include "ObjectHandles.h"
#include "Registrations.h"

namespace bp = boost::python;

namespace {

using namespace vexa2::python;

void setProxy(const std::string& host, int port, const std::string& user,
              const std::string& password)
{
    plenta::PlentaCommunicatorFactory::setProxy(host.c_str(), port, user.c_str(),
                                                password.c_str());
}

bp::object createCommunicator(IK7RSession* session, const std::string& cachePath)
{
    plenta::IError* error = nullptr;
    LibraryHandle<plenta::IPlentaCommunicator> communicator = makeLibraryHandle(
        plenta::PlentaCommunicatorFactory::createCommunicator(session, cachePath.c_str(), &error));
    raisePlentaError(error, true);
    if (!communicator)
        return bp::object();
    return bp::object(communicator);
}

}  // namespace

void exportPlentaCommunicatorFactory()
{
    // Plain functions in the class namespace: called on the class itself, no instance exists.
    bp::class_<plenta::PlentaCommunicatorFactory, boost::noncopyable>(
        "PlentaCommunicatorFactory", "The factory of the Plenta API communicator.", bp::no_init)
        .def("set_proxy", &setProxy, "Sets the HTTP proxy parameters.")
        .def("create_communicator", &createCommunicator,
             "Creates an instance of the Plenta API communicator.");
}
