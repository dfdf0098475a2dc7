// source/K7R/K7RAllEventQueueListener.h: the listener pair that a K7RAllEventQueue tells of each
// event put into it.
#pragma once

#include <velvix/Velvix.h>

#include "Callback.h"
#include "ObjectHandles.h"

namespace vexa2 { namespace python {

class K7RAllEventQueueListenerImpl;

class K7RAllEventQueueListenerHelper final
    : public ListenerHelper<K7RAllEventQueueListenerImpl, IK7RAllEventQueueListener>
{
public:
    using ListenerHelper::ListenerHelper;
    void onPutInQueue(IK7RAllEventQueueItem* item) override;
};

// Held by shared pointer in its Python object, AK7RAllEventQueueListener. The item handle owns a
// reference of its own: the library only lends the item for the call.
class K7RAllEventQueueListenerImpl
    : public ListenerImpl<K7RAllEventQueueListenerImpl, K7RAllEventQueueListenerHelper>
{
public:
    K7RAllEventQueueListenerImpl() : ListenerImpl(this) {}
    virtual void onPutInQueue(LibraryHandle<IK7RAllEventQueueItem> item);
};

} }  // namespace vexa2::python

void exportAllEventQueueListener();
