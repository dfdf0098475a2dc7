// source/K7R/K7RResponseListener.cpp: the response listener class AK7RResponseListener, through which
// a script hears of completed and failed requests and of table updates.
#include <boost/python.hpp>

#include "Constructors.h"
#include "K7R/K7RResponseListener.h"
#include "Registrations.h"

namespace vexa2 { namespace python {

namespace {

const char* const kFile = "source\\K7R\\K7RResponseListener";

const CallbackSite kRequestCompleted{"on_request_completed",
                                     "AK7RResponseListener::on_request_completed",
                                     "onRequestCompleted", kFile, 16};
const CallbackSite kRequestFailed{"on_request_failed", "AK7RResponseListener::on_request_failed",
                                  "onRequestFailed", kFile, 32};
const CallbackSite kTablesUpdates{"on_tables_updates", "AK7RResponseListener::on_tables_updates",
                                  "onTablesUpdates", kFile, 47};

}  // namespace

void K7RResponseListenerHelper::onRequestCompleted(const char* requestId, IK7RResponse* response)
{
    forward(kRequestCompleted, &K7RResponseListenerImpl::onRequestCompleted, requestId, lent(response));
}

void K7RResponseListenerHelper::onRequestFailed(const char* requestId, const char* error)
{
    forward(&K7RResponseListenerImpl::onRequestFailed, requestId, error);
}

void K7RResponseListenerHelper::onTablesUpdates(IK7RResponse* response)
{
    forward(kTablesUpdates, &K7RResponseListenerImpl::onTablesUpdates, lent(response));
}

void K7RResponseListenerImpl::onRequestCompleted(const char* requestId,
                                                 LibraryHandle<IK7RResponse> response)
{
    dispatch(kRequestCompleted, requestId, response);
}

void K7RResponseListenerImpl::onRequestFailed(const char* requestId, const char* error)
{
    dispatch(kRequestFailed, requestId, error);
}

void K7RResponseListenerImpl::onTablesUpdates(LibraryHandle<IK7RResponse> response)
{
    dispatch(kTablesUpdates, response);
}

} }  // namespace vexa2::python

void exportResponseListener()
{
    namespace bp = boost::python;
    using vexa2::python::K7RResponseListenerImpl;
    using vexa2::python::checkedInit;

    bp::class_<K7RResponseListenerImpl, boost::shared_ptr<K7RResponseListenerImpl>,
               boost::noncopyable>
        listener("AK7RResponseListener",
                 "The abstract class provides the method signatures to process notifications "
                 "about request completions, request failures and tables updates.",
                 checkedInit<K7RResponseListenerImpl>());
    defCallback(listener, "on_request_completed", &K7RResponseListenerImpl::onRequestCompleted,
                "Processes a notification about the successful request completion.");
    defCallback(listener, "on_request_failed", &K7RResponseListenerImpl::onRequestFailed,
                "Processes notification about a request failure.");
    defCallback(listener, "on_tables_updates", &K7RResponseListenerImpl::onTablesUpdates,
                "Processes notifications about tables updates.");
}
