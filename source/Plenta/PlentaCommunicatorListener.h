// source/Plenta/PlentaCommunicatorListener.h: the two listener pairs a script subscribes to a
// communicator: request outcomes and the communicator's status.
#pragma once

#include <plenta/Plenta.h>

#include "Callback.h"
#include "ObjectHandles.h"

namespace vexa2 { namespace python {

class PlentaCommunicatorListenerImpl;
class PlentaCommunicatorStatusListenerImpl;

class PlentaCommunicatorListenerHelper final
    : public ListenerHelper<PlentaCommunicatorListenerImpl, plenta::IPlentaCommunicatorListener>
{
public:
    using ListenerHelper::ListenerHelper;
    void onRequestCompleted(plenta::IPlentaCommunicatorRequest* request,
                            plenta::IPlentaCommunicatorResponse* response) override;
    void onRequestFailed(plenta::IPlentaCommunicatorRequest* request,
                         plenta::IError* error) override;
    void onRequestCancelled(plenta::IPlentaCommunicatorRequest* request) override;
};

// Held by shared pointer in APlentaCommunicatorListener. The handles own a reference of their
// own: the library only lends the arguments for the call.
class PlentaCommunicatorListenerImpl
    : public ListenerImpl<PlentaCommunicatorListenerImpl, PlentaCommunicatorListenerHelper>
{
public:
    PlentaCommunicatorListenerImpl() : ListenerImpl(this) {}
    virtual void onRequestCompleted(LibraryHandle<plenta::IPlentaCommunicatorRequest> request,
                                    LibraryHandle<plenta::IPlentaCommunicatorResponse> response);
    virtual void onRequestFailed(LibraryHandle<plenta::IPlentaCommunicatorRequest> request,
                                 LibraryHandle<plenta::IError> error);
    virtual void onRequestCancelled(LibraryHandle<plenta::IPlentaCommunicatorRequest> request);
};

class PlentaCommunicatorStatusListenerHelper final
    : public ListenerHelper<PlentaCommunicatorStatusListenerImpl,
                            plenta::IPlentaCommunicatorStatusListener>
{
public:
    using ListenerHelper::ListenerHelper;
    void onCommunicatorStatusChanged(bool ready) override;
    void onCommunicatorInitFailed(plenta::IError* error) override;
};

// Held by shared pointer in APlentaCommunicatorStatusListener.
class PlentaCommunicatorStatusListenerImpl
    : public ListenerImpl<PlentaCommunicatorStatusListenerImpl,
                          PlentaCommunicatorStatusListenerHelper>
{
public:
    PlentaCommunicatorStatusListenerImpl() : ListenerImpl(this) {}
    virtual void onCommunicatorStatusChanged(bool ready);
    virtual void onCommunicatorInitFailed(LibraryHandle<plenta::IError> error);
};

} }  // namespace vexa2::python
