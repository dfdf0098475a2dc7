// source/K7R/K7RChartSessionStatus.h: the chart session status listener pair, which K7RSession
// subscribes.
#pragma once

#include <velvix/Velvix.h>

#include "Callback.h"

namespace vexa2 { namespace python {

class K7RChartSessionStatusImpl;

class K7RChartSessionStatusHelper final
    : public ListenerHelper<K7RChartSessionStatusImpl, IK7RChartSessionStatus>
{
public:
    using ListenerHelper::ListenerHelper;
    void onChartSessionStatusChanged(K7RChartSessionStatus status) override;
    void onChartSessionLoginFailed(const char* error) override;
};

// Held by shared pointer in its Python object, AK7RChartSessionStatus.
class K7RChartSessionStatusImpl
    : public ListenerImpl<K7RChartSessionStatusImpl, K7RChartSessionStatusHelper>
{
public:
    K7RChartSessionStatusImpl() : ListenerImpl(this) {}
    virtual void onChartSessionStatusChanged(IK7RChartSessionStatus::K7RChartSessionStatus status);
    virtual void onChartSessionLoginFailed(const char* error);
};

} }  // namespace vexa2::python
