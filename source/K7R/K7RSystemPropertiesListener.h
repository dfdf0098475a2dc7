// source/K7R/K7RSystemPropertiesListener.h: the system properties listener pair, which K7RSession
// subscribes to hear of the session's property changes.
#pragma once

#include <velvix/Velvix.h>

#include "Callback.h"

namespace vexa2 { namespace python {

class K7RSystemPropertiesListenerImpl;

class K7RSystemPropertiesListenerHelper final
    : public ListenerHelper<K7RSystemPropertiesListenerImpl, IK7RSystemPropertiesListener>
{
public:
    using ListenerHelper::ListenerHelper;
    void onChangeProperty(const char* name, const char* value) override;
};

// Held by shared pointer in its Python object, AK7RSystemPropertiesListener.
class K7RSystemPropertiesListenerImpl
    : public ListenerImpl<K7RSystemPropertiesListenerImpl, K7RSystemPropertiesListenerHelper>
{
public:
    K7RSystemPropertiesListenerImpl() : ListenerImpl(this) {}
    virtual void onChangeProperty(const char* name, const char* value);
};

} }  // namespace vexa2::python
