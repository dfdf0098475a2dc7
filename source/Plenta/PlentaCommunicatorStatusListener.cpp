// source/Plenta/PlentaCommunicatorStatusListener.cpp: APlentaCommunicatorStatusListener, through
// which a script follows whether its communicator is ready and why it failed to start.
#include <boost/python.hpp>

#include "Constructors.h"
#include "Plenta/PlentaCommunicator.h"
#include "Plenta/PlentaCommunicatorListener.h"

namespace vexa2 { namespace python {

namespace {

const char* const kFile = "source\\Plenta\\PlentaCommunicatorStatusListener";

const CallbackSite kStatusChanged{"on_communicator_status_changed",
                                  "APlentaCommunicatorStatusListener::on_communicator_status_changed",
                                  "onCommunicatorStatusChanged", kFile, 16};
const CallbackSite kInitFailed{"on_communicator_init_failed",
                               "APlentaCommunicatorStatusListener::on_communicator_init_failed",
                               "onCommunicatorInitFailed", kFile, 31};

}  // namespace

void PlentaCommunicatorStatusListenerHelper::onCommunicatorStatusChanged(bool ready)
{
    forward(&PlentaCommunicatorStatusListenerImpl::onCommunicatorStatusChanged, ready);
}

void PlentaCommunicatorStatusListenerHelper::onCommunicatorInitFailed(plenta::IError* error)
{
    forward(kInitFailed, &PlentaCommunicatorStatusListenerImpl::onCommunicatorInitFailed, lent(error));
}

void PlentaCommunicatorStatusListenerImpl::onCommunicatorStatusChanged(bool ready)
{
    dispatch(kStatusChanged, ready);
}

void PlentaCommunicatorStatusListenerImpl::onCommunicatorInitFailed(
    LibraryHandle<plenta::IError> error)
{
    dispatch(kInitFailed, error);
}

} }  // namespace vexa2::python

void exportPlentaCommunicatorStatusListener()
{
    namespace bp = boost::python;
    using vexa2::python::PlentaCommunicatorStatusListenerImpl;
    using vexa2::python::checkedInit;
    const char* const reserved = "Reserved for future use.";

    bp::class_<PlentaCommunicatorStatusListenerImpl,
               boost::shared_ptr<PlentaCommunicatorStatusListenerImpl>, boost::noncopyable>
        listener("APlentaCommunicatorStatusListener", reserved,
                 checkedInit<PlentaCommunicatorStatusListenerImpl>());
    defCallback(listener, "on_communicator_status_changed",
                &PlentaCommunicatorStatusListenerImpl::onCommunicatorStatusChanged, reserved);
    defCallback(listener, "on_communicator_init_failed",
                &PlentaCommunicatorStatusListenerImpl::onCommunicatorInitFailed, reserved);
}
