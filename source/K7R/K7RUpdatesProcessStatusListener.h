// source/K7R/K7RUpdatesProcessStatusListener.h: the listener pair that the table manager tells when
// it begins and ends applying a batch of table updates.
#pragma once

#include <velvix/Velvix.h>

#include "Callback.h"

namespace vexa2 { namespace python {

class K7RUpdatesProcessStatusListenerImpl;

class K7RUpdatesProcessStatusListenerHelper final
    : public ListenerHelper<K7RUpdatesProcessStatusListenerImpl, IK7RUpdatesProcessStatusListener>
{
public:
    using ListenerHelper::ListenerHelper;
    void onUpdatesProcessStatusChanged(K7RUpdatesProcessStatus status) override;
    // The interface's second callback has no Python method: it does nothing.
    void onUpdatesProcessFailed(const char*) override {}
};

// Held by shared pointer in its Python object, AK7RUpdatesProcessStatusListener.
class K7RUpdatesProcessStatusListenerImpl
    : public ListenerImpl<K7RUpdatesProcessStatusListenerImpl, K7RUpdatesProcessStatusListenerHelper>
{
public:
    K7RUpdatesProcessStatusListenerImpl() : ListenerImpl(this) {}
    virtual void onUpdatesProcessStatusChanged(K7RUpdatesProcessStatus status);
};

} }  // namespace vexa2::python

void exportUpdatesProcessStatusListener();
