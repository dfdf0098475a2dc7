// source/K7R/K7RTableManagerListener.h: the table manager listener pair that the session's
// use_table_manager hands to the library. Unlike the other listeners its reports reach Python
// later, on the late-call worker, so the library's thread never waits for the interpreter lock.
#pragma once

#include <atomic>

#include <velvix/Velvix.h>

#include "Callback.h"
#include "ObjectHandles.h"

namespace vexa2 { namespace python {

class K7RTableManagerListenerImpl;

// The library-side object. Its owner is read without the interpreter lock on the library's
// thread (an early way out only) and again under the lock by the job, hence atomic.
class K7RTableManagerListenerHelper final
    : public TK7R2ThreadSafeAddRefImpl<IK7RTableManagerListener>
{
public:
    explicit K7RTableManagerListenerHelper(K7RTableManagerListenerImpl* owner) : m_owner(owner) {}

    // With the interpreter lock held, when the Python object goes.
    void detach() { m_owner.store(nullptr); }

    // Library thread: posts the report to the late-call worker and returns.
    void onStatusChanged(K7RTableManagerStatus status, IK7RTableManager* manager) override;

    // Worker thread, lock held: the owner, or null once the Python object has gone.
    K7RTableManagerListenerImpl* owner() const { return m_owner.load(); }

private:
    std::atomic<K7RTableManagerListenerImpl*> m_owner;
};

// Held by a boost shared pointer in its Python object, AK7RTableManagerListener.
class K7RTableManagerListenerImpl
    : public ListenerImpl<K7RTableManagerListenerImpl, K7RTableManagerListenerHelper>
{
public:
    K7RTableManagerListenerImpl() : ListenerImpl(this) {}
    virtual void onStatusChanged(K7RTableManagerStatus status,
                                 LibraryHandle<IK7RTableManager> manager);
};

} }  // namespace vexa2::python

// Registers AK7RTableManagerListener.
void exportTableManagerListener();
