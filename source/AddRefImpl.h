// source/AddRefImpl.h: thread-safe reference counting for the module's own library-side objects.
// The libraries call addRef and release from their own threads, so the count is atomic.
#pragma once

#include <atomic>
#include <cstdint>

namespace vexa2 { namespace python {

// Implements addRef and release of whichever IAddRef `Interface` derives from. The vtable order
// is that IAddRef's own (trading library: destructor, addRef, release; Plenta and Zorvat: addRef,
// release, destructor), so one template serves every library. The count starts at 1: the creator
// owns the first reference.
template <class Interface>
class TK7R2ThreadSafeAddRefImpl : public Interface
{
public:
    int addRef() override
    {
        return m_refCount.fetch_add(1, std::memory_order_relaxed) + 1;
    }

    // Decides on the value this decrement produced: a second read could see another thread's
    // decrement and delete twice or never.
    int release() override
    {
        const std::int32_t count = m_refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (count == 0)
            delete this;
        return count;
    }

protected:
    TK7R2ThreadSafeAddRefImpl() = default;
    ~TK7R2ThreadSafeAddRefImpl() override = default;

private:
    std::atomic<std::int32_t> m_refCount{1};
};

// Own objects that are plain IAddRef objects (no further library interface) count the same way.
template <class IAddRefBase>
using TThreadSafeAddRefImpl = TK7R2ThreadSafeAddRefImpl<IAddRefBase>;

} }  // namespace vexa2::python
