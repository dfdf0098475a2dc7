// source/Plenta/PlentaListener.cpp: get_history, the blocking history fetch: one request, a waiter
// subscribed for it, and the reader made of the response.
#include "Plenta/PlentaListener.h"

#include <boost/python.hpp>

#include "CallPolicies.h"
#include "LibraryErrors.h"
#include "Messages.h"
#include "ObjectHandles.h"
#include "Plenta/PlentaCommunicator.h"

namespace bp = boost::python;

namespace vexa2 { namespace python {

PlentaListener::~PlentaListener()
{
    if (m_response)
        m_response->release();
    if (m_error)
        m_error->release();
}

void PlentaListener::onRequestCompleted(plenta::IPlentaCommunicatorRequest* request,
                                        plenta::IPlentaCommunicatorResponse* response)
{
    if (request == m_request)
        m_report.keep(m_response, response);
}

void PlentaListener::onRequestFailed(plenta::IPlentaCommunicatorRequest* request,
                                     plenta::IError* error)
{
    if (request == m_request)
        m_report.keep(m_error, error);
}

void PlentaListener::onRequestCancelled(plenta::IPlentaCommunicatorRequest* request)
{
    if (request == m_request)
        m_report.finish(true);
}

PlentaListenerSubscription::PlentaListenerSubscription(PlentaListener* listener,
                                                       plenta::IPlentaCommunicator* communicator)
    : m_listener(listener), m_communicator(communicator)
{
    m_listener->addRef();
    m_communicator->addRef();
    m_communicator->addListener(m_listener);
}

PlentaListenerSubscription::~PlentaListenerSubscription()
{
    m_communicator->removeListener(m_listener);
    m_communicator->release();
    m_listener->release();
}

bp::object getHistory(plenta::IPlentaCommunicator& communicator, const std::string& instrument,
                      IK7RTimeframe* timeframe, const bp::object& from, const bp::object& to,
                      int quotesCount)
{
    const double oleFrom = historyDate(from);
    const double oleTo = historyDate(to);

    // Handles give everything back in the reverse order of taking, also when a raise passes.
    plenta::IError* error = nullptr;
    const LibraryHandle<plenta::IPlentaCommunicatorRequest> request = makeLibraryHandle(
        communicator.createRequest(instrument.c_str(), timeframe, oleFrom, oleTo, quotesCount,
                                   &error));
    raisePlentaError(error, true);
    if (!request)
        raiseMessage(PyExc_Exception, msgCannotCreateRequest());

    const LibraryHandle<PlentaListener> listener =
        makeLibraryHandle(new PlentaListener(request.get()));
    const PlentaListenerSubscription subscription(listener.get(), &communicator);

    error = nullptr;
    if (!communicator.sendRequest(request.get(), &error))
    {
        raisePlentaError(error, true);
        raiseMessage(PyExc_Exception, msgCannotSendRequest());
    }
    // An error written beside a true result changes nothing, but it is ours to release.
    if (error)
        error->release();

    if (!listener->wait())
    {
        // Ctrl-C: the request goes, and the scopes above give everything back as the error passes.
        communicator.cancelRequest(request.get());
        bp::throw_error_already_set();
    }

    if (listener->isCanceled())
        raiseMessage(PyExc_Exception, msgRequestCanceled());
    raisePlentaError(listener->getError(), true);
    const LibraryHandle<plenta::IPlentaCommunicatorResponse> response =
        makeLibraryHandle(listener->getResponse());
    if (!response)
        raiseMessage(PyExc_Exception, msgResponseNull());
    return makeHistoryReader(communicator, response.get());
}

} }  // namespace vexa2::python
