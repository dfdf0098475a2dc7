// source/K7R/K7RRolloverProviderListener.h: the rollover provider listener pair, which
// K7RRolloverProvider subscribes. The library's interface counts no references: it keeps a plain
// pointer to the library-side object between subscribe and unsubscribe, so only the Python-side
// object decides when that object goes.
#pragma once

#include <velvix/Velvix.h>

#include <vector>

#include "Callback.h"
#include "ObjectHandles.h"

namespace vexa2 { namespace python {

class K7RRolloverProviderListenerImpl;

// The library's listener interface with the counting the bridge gives every library-side object.
// Its own operations come after the library's, so the library sees the table it expects; only the
// Python-side object and a running callback change the count.
class CountedRolloverProviderListener : public IK7RRolloverProviderListener
{
public:
    virtual int addRef() = 0;
    virtual int release() = 0;
};

class K7RRolloverProviderListenerHelper final
    : public ListenerHelper<K7RRolloverProviderListenerImpl, CountedRolloverProviderListener>
{
public:
    using ListenerHelper::ListenerHelper;
    void onStatusChanged(K7RRolloverStatus status) override;
};

// Held by shared pointer in its Python object, AK7RRolloverProviderListener.
class K7RRolloverProviderListenerImpl
    : public ListenerImpl<K7RRolloverProviderListenerImpl, K7RRolloverProviderListenerHelper>
{
public:
    K7RRolloverProviderListenerImpl() : ListenerImpl(this) {}
    // A listener that goes while a provider still holds it (its subscription reference given back
    // by an unsubscribe through another provider) is first taken back from that provider: the
    // library's plain pointer must never outlive the library-side object.
    ~K7RRolloverProviderListenerImpl() override;
    virtual void onStatusChanged(K7RRolloverStatus status);

    // The providers holding the library-side object, one entry per subscription, kept by the
    // subscribe and unsubscribe methods with the interpreter lock held.
    void subscribedTo(IK7RRolloverProvider* provider);
    void unsubscribedFrom(IK7RRolloverProvider* provider);

private:
    std::vector<LibraryHandle<IK7RRolloverProvider>> m_providers;
};

} }  // namespace vexa2::python
