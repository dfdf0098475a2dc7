// source/Plenta/PlentaListener.h: the one-shot waiter of the blocking history fetch and the scope
// that keeps it subscribed to the communicator while the fetch runs.
#pragma once

#include <plenta/Plenta.h>

#include "AddRefImpl.h"
#include "Plenta/OneShotReport.h"

namespace vexa2 { namespace python {

// Waits for the report on one request. The communicator tells every listener about every request,
// so reports about other requests are passed by: only its own request ends the wait.
class PlentaListener final : public TK7R2ThreadSafeAddRefImpl<plenta::IPlentaCommunicatorListener>
{
public:
    // `request` is only compared with what the reports name; no reference is taken.
    explicit PlentaListener(const plenta::IPlentaCommunicatorRequest* request) : m_request(request) {}
    ~PlentaListener() override;

    void onRequestCompleted(plenta::IPlentaCommunicatorRequest* request,
                            plenta::IPlentaCommunicatorResponse* response) override;
    void onRequestFailed(plenta::IPlentaCommunicatorRequest* request,
                         plenta::IError* error) override;
    void onRequestCancelled(plenta::IPlentaCommunicatorRequest* request) override;

    // Called holding the interpreter lock; lets it go until the report came. No time limit: the
    // library reports on every request it accepted. False when a signal handler raised meanwhile.
    bool wait() { return m_report.wait(); }
    bool isCanceled() { return m_report.isCanceled(); }
    // With a reference added for the caller; null when none.
    plenta::IError* getError() { return m_report.held(m_error); }
    plenta::IPlentaCommunicatorResponse* getResponse() { return m_report.held(m_response); }

private:
    const plenta::IPlentaCommunicatorRequest* const m_request;
    plenta::IError* m_error = nullptr;
    plenta::IPlentaCommunicatorResponse* m_response = nullptr;
    OneShotReport m_report;
};

// Adds the listener for its lifetime; both objects keep a reference of the scope's own.
class PlentaListenerSubscription
{
public:
    PlentaListenerSubscription(PlentaListener* listener, plenta::IPlentaCommunicator* communicator);
    ~PlentaListenerSubscription();
    PlentaListenerSubscription(const PlentaListenerSubscription&) = delete;
    PlentaListenerSubscription& operator=(const PlentaListenerSubscription&) = delete;

private:
    PlentaListener* m_listener;
    plenta::IPlentaCommunicator* m_communicator;
};

} }  // namespace vexa2::python
