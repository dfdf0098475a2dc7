// source/Plenta/PlentaCommunicatorListener.cpp: APlentaCommunicatorListener, through which a script
// hears how the history requests it sent ended.
#include <boost/python.hpp>

#include "Constructors.h"
#include "Plenta/PlentaCommunicator.h"
#include "Plenta/PlentaCommunicatorListener.h"

namespace vexa2 { namespace python {

namespace {

const char* const kFile = "source\\Plenta\\PlentaCommunicatorListener";

const CallbackSite kRequestCompleted{"on_request_completed",
                                     "APlentaCommunicatorListener::on_request_completed",
                                     "onRequestCompleted", kFile, 17};
const CallbackSite kRequestFailed{"on_request_failed",
                                  "APlentaCommunicatorListener::on_request_failed",
                                  "onRequestFailed", kFile, 32};
const CallbackSite kRequestCancelled{"on_request_cancelled",
                                     "APlentaCommunicatorListener::on_request_cancelled",
                                     "onRequestCancelled", kFile, 47};

}  // namespace

void PlentaCommunicatorListenerHelper::onRequestCompleted(
    plenta::IPlentaCommunicatorRequest* request, plenta::IPlentaCommunicatorResponse* response)
{
    forward(kRequestCompleted, &PlentaCommunicatorListenerImpl::onRequestCompleted, lent(request),
            lent(response));
}

void PlentaCommunicatorListenerHelper::onRequestFailed(plenta::IPlentaCommunicatorRequest* request,
                                                       plenta::IError* error)
{
    forward(kRequestFailed, &PlentaCommunicatorListenerImpl::onRequestFailed, lent(request),
            lent(error));
}

void PlentaCommunicatorListenerHelper::onRequestCancelled(
    plenta::IPlentaCommunicatorRequest* request)
{
    forward(kRequestCancelled, &PlentaCommunicatorListenerImpl::onRequestCancelled, lent(request));
}

void PlentaCommunicatorListenerImpl::onRequestCompleted(
    LibraryHandle<plenta::IPlentaCommunicatorRequest> request,
    LibraryHandle<plenta::IPlentaCommunicatorResponse> response)
{
    dispatch(kRequestCompleted, request, response);
}

void PlentaCommunicatorListenerImpl::onRequestFailed(
    LibraryHandle<plenta::IPlentaCommunicatorRequest> request, LibraryHandle<plenta::IError> error)
{
    dispatch(kRequestFailed, request, error);
}

void PlentaCommunicatorListenerImpl::onRequestCancelled(
    LibraryHandle<plenta::IPlentaCommunicatorRequest> request)
{
    dispatch(kRequestCancelled, request);
}

} }  // namespace vexa2::python

void exportPlentaCommunicatorListener()
{
    namespace bp = boost::python;
    using vexa2::python::PlentaCommunicatorListenerImpl;
    using vexa2::python::checkedInit;
    const char* const reserved = "Reserved for future use.";

    bp::class_<PlentaCommunicatorListenerImpl, boost::shared_ptr<PlentaCommunicatorListenerImpl>,
               boost::noncopyable>
        listener("APlentaCommunicatorListener", reserved,
                 checkedInit<PlentaCommunicatorListenerImpl>());
    defCallback(listener, "on_request_completed",
                &PlentaCommunicatorListenerImpl::onRequestCompleted, reserved);
    defCallback(listener, "on_request_failed", &PlentaCommunicatorListenerImpl::onRequestFailed,
                reserved);
    defCallback(listener, "on_request_cancelled",
                &PlentaCommunicatorListenerImpl::onRequestCancelled, reserved);
}
