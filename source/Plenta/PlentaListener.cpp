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
    if (request != m_request)
        return;
    plenta::IPlentaCommunicatorResponse* previous = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (response)
            response->addRef();
        previous = m_response;
        m_response = response;
        m_done = true;
        m_condition.notify_all();
    }
    if (previous)
        previous->release();
}

void PlentaListener::onRequestFailed(plenta::IPlentaCommunicatorRequest* request,
                                     plenta::IError* error)
{
    if (request != m_request)
        return;
    plenta::IError* previous = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (error)
            error->addRef();
        previous = m_error;
        m_error = error;
        m_done = true;
        m_condition.notify_all();
    }
    if (previous)
        previous->release();
}

void PlentaListener::onRequestCancelled(plenta::IPlentaCommunicatorRequest* request)
{
    if (request != m_request)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cancelled = true;
    m_done = true;
    m_condition.notify_all();
}

void PlentaListener::wait()
{
    // The lock is taken back only after the mutex is let go: the reporting thread never waits
    // for the interpreter.
    ScopedGilRelease release;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_condition.wait(lock, [this] { return m_done; });
}

bool PlentaListener::isCanceled()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cancelled;
}

plenta::IError* PlentaListener::getError()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_error)
        m_error->addRef();
    return m_error;
}

plenta::IPlentaCommunicatorResponse* PlentaListener::getResponse()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_response)
        m_response->addRef();
    return m_response;
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

    listener->wait();

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
