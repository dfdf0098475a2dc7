// source/K7R/K7RResponseListener.h: the response listener pair, which K7RSession subscribes to
// hear how the requests it sent ended and what the server pushed.
#pragma once

#include <velvix/Velvix.h>

#include "Callback.h"
#include "ObjectHandles.h"

namespace vexa2 { namespace python {

class K7RResponseListenerImpl;

class K7RResponseListenerHelper final
    : public ListenerHelper<K7RResponseListenerImpl, IK7RResponseListener>
{
public:
    using ListenerHelper::ListenerHelper;
    void onRequestCompleted(const char* requestId, IK7RResponse* response) override;
    void onRequestFailed(const char* requestId, const char* error) override;
    void onTablesUpdates(IK7RResponse* response) override;
};

// Held by shared pointer in its Python object, AK7RResponseListener. The response handles own a
// reference of their own: the library only lends the response for the call.
class K7RResponseListenerImpl
    : public ListenerImpl<K7RResponseListenerImpl, K7RResponseListenerHelper>
{
public:
    K7RResponseListenerImpl() : ListenerImpl(this) {}
    virtual void onRequestCompleted(const char* requestId, LibraryHandle<IK7RResponse> response);
    virtual void onRequestFailed(const char* requestId, const char* error);
    virtual void onTablesUpdates(LibraryHandle<IK7RResponse> response);
};

} }  // namespace vexa2::python
