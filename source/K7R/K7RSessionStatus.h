// source/K7R/K7RSessionStatus.h: the session status listener pair, which K7RSession subscribes.
#pragma once

#include <velvix/Velvix.h>

#include "Callback.h"

namespace vexa2 { namespace python {

class K7RSessionStatusImpl;

class K7RSessionStatusHelper final
    : public ListenerHelper<K7RSessionStatusImpl, IK7RSessionStatus>
{
public:
    using ListenerHelper::ListenerHelper;
    void onSessionStatusChanged(K7RSessionStatus status) override;
    void onLoginFailed(const char* error) override;
};

// Held by value in its Python object, AK7RSessionStatus.
class K7RSessionStatusImpl : public ListenerImpl<K7RSessionStatusImpl, K7RSessionStatusHelper>
{
public:
    K7RSessionStatusImpl() : ListenerImpl(this) {}
    virtual void onSessionStatusChanged(IK7RSessionStatus::K7RSessionStatus status);
    virtual void onLoginFailed(const char* error);
};

} }  // namespace vexa2::python
