// source/K7R/K7RUpdateEventQueueListener.h: the listener pair that a K7RUpdateEventQueue tells of
// each row put into it.
#pragma once

#include <boost/python/object.hpp>

#include <velvix/Velvix.h>

#include "Callback.h"

namespace vexa2 { namespace python {

class K7RUpdateEventQueueListenerImpl;

class K7RUpdateEventQueueListenerHelper final
    : public ListenerHelper<K7RUpdateEventQueueListenerImpl, IK7RUpdateEventQueueListener>
{
public:
    using ListenerHelper::ListenerHelper;
    void onPutInQueue(IK7RRow* row) override;
};

// Held by shared pointer in its Python object, AK7RUpdateEventQueueListener; the row arrives as
// its most specific row class.
class K7RUpdateEventQueueListenerImpl
    : public ListenerImpl<K7RUpdateEventQueueListenerImpl, K7RUpdateEventQueueListenerHelper>
{
public:
    K7RUpdateEventQueueListenerImpl() : ListenerImpl(this) {}
    virtual void onPutInQueue(const boost::python::object& row);
};

} }  // namespace vexa2::python

void exportUpdateEventQueueListener();
