// source/K7R/K7RCommissionProviderListener.h: the commission provider listener pair, which
// K7RCommissionsProvider subscribes.
#pragma once

#include <velvix/Velvix.h>

#include "Callback.h"

namespace vexa2 { namespace python {

class K7RCommissionProviderListenerImpl;

class K7RCommissionProviderListenerHelper final
    : public ListenerHelper<K7RCommissionProviderListenerImpl, IK7RCommissionProviderListener>
{
public:
    using ListenerHelper::ListenerHelper;
    void onChangeCommissionProviderStatus(K7RCommissionStatus status) override;
    void onNeedUpdateCommissions() override;
};

// Held by shared pointer in its Python object, AK7RCommissionProviderListener.
class K7RCommissionProviderListenerImpl
    : public ListenerImpl<K7RCommissionProviderListenerImpl, K7RCommissionProviderListenerHelper>
{
public:
    K7RCommissionProviderListenerImpl() : ListenerImpl(this) {}
    virtual void onChangeCommissionProviderStatus(K7RCommissionStatus status);
    virtual void onNeedUpdateCommissions();
};

} }  // namespace vexa2::python
