// source/K7R/K7RTransport.cpp: the K7RTransport class: the transport's process-wide settings and the
// creation of sessions.
#include <boost/python.hpp>

#include <string>
#include <vector>

#include <velvix/Velvix.h>

#include "CallPolicies.h"
#include "Constructors.h"
#include "K7R/ColumnLookup.h"
#include "LateCaller.h"
#include "Messages.h"
#include "ObjectHandles.h"
#include "PythonExit.h"
#include "Registrations.h"

namespace {

namespace bp = boost::python;
using vexa2::python::LateCaller;
using vexa2::python::ScopedGilRelease;

const char* const kFinalizeAfterExitGaveUp =
    "Cannot finalize the library while the interpreter exits with a callback still running: the "
    "exit stopped waiting for it, and finalizing would wait for it for good.";

bp::object createSession()
{
    return vexa2::python::wrapApiObject(CK7RTransport::createSession());
}

void setProxy2(const char* host, int port)
{
    CK7RTransport::setProxy(host, port, nullptr, nullptr);
}

void setProxy3(const char* host, int port, const char* user)
{
    CK7RTransport::setProxy(host, port, user, nullptr);
}

void setProxy4(const char* host, int port, const char* user, const char* password)
{
    CK7RTransport::setProxy(host, port, user, password);
}

// At exit, after the exit gave up on a callback or a job that never came back, both waits below
// would wait for it for good.
void refuseWaitForParkedThreads()
{
    if (vexa2::python::exitLeftThreadsInside())
        vexa2::python::raiseMessage(PyExc_RuntimeError, kFinalizeAfterExitGaveUp);
}

// Both waits let the interpreter lock go: a running job of the worker, and the delivery the
// library waits for as it finalizes, may need it to end. The lock is back on every way out.
void finalize()
{
    refuseWaitForParkedThreads();
    LateCaller::instance().stop();
    vexa2::python::releaseColumnLookups();
    ScopedGilRelease release;
    CK7RTransport::finialize();
}

void finalizeWrapper()
{
    refuseWaitForParkedThreads();
    LateCaller::instance().stop();
}

// Every byte the library counts goes into the text, a zero byte included.
std::string getApplicationId()
{
    size_t size = 0;
    CK7RTransport::getApplicationID(nullptr, size);
    const size_t allocated = size;
    // One spare byte keeps the buffer a real one when the size is 0.
    std::vector<char> buffer(allocated + 1, '\0');
    CK7RTransport::getApplicationID(buffer.data(), size);
    return std::string(buffer.data(), size <= allocated ? size : allocated);
}

void setApplicationId(const char* id)
{
    CK7RTransport::setApplicationID(id);
}

int getClosedHistorySize()
{
    return CK7RTransport::getClosedHistorySize();
}

void setClosedHistorySize(int size)
{
    CK7RTransport::setClosedHistorySize(size);
}

}  // namespace

void exportTransport()
{
    const char* const proxyDoc = "Configures the proxy server settings.";
    const char* const reserved = "Reserved for future use.";

    // The members are plain functions in the class namespace, called on the class itself.
    bp::class_<CK7RTransport>(
        "K7RTransport",
        "The class is used to create sessions and to configure the transport parameters.",
        vexa2::python::checkedInit<CK7RTransport>())
        .def("create_session", &createSession, "Creates a transport session.")
        .def("set_proxy", &setProxy2, proxyDoc)
        .def("set_proxy", &setProxy3, proxyDoc)
        .def("set_proxy", &setProxy4, proxyDoc)
        .def("set_ca_info", &CK7RTransport::setCAInfo,
             "Sets the certificate authority to check the server certificate which Velvix "
             "connects to (for non-Windows operating systems only).")
        .def("set_number_of_reconnections", &CK7RTransport::setNumberOfReconnections,
             "Sets the number of attempts to reconnect.")
        .def("finalize", &finalize, reserved)
        .def("finalize_wrapper", &finalizeWrapper, reserved)
        .def("set_transport_modules_path", &CK7RTransport::setTransportModulesPath, reserved)
        .add_static_property("application_id", &getApplicationId, &setApplicationId)
        .add_static_property("closed_history_size", &getClosedHistorySize, &setClosedHistorySize);
}
