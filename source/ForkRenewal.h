// source/ForkRenewal.h: what a fork leaves of the module's locks and counts. The child holds the
// forking thread alone, so a mutex that another thread held, or a condition variable that another
// thread waited on, stays so for good there, and their destructors would wait for threads that
// are not there: the child makes them anew over the old ones, whose destructors never run.
#pragma once

#include <new>

namespace vexa2 { namespace python {

template <class T>
void renewInChild(T& object)
{
    new (&object) T();
}

// A base for objects of any lifetime whose locks and counts a fork must renew: each is listed from
// its construction to its destruction, and in the child `renew` runs for it on the forking thread,
// before any Python code runs there.
class RenewedInChild
{
protected:
    using Renew = void (*)(RenewedInChild&);
    explicit RenewedInChild(Renew renew);
    ~RenewedInChild();
    RenewedInChild(const RenewedInChild&) = delete;
    RenewedInChild& operator=(const RenewedInChild&) = delete;

private:
    friend class RenewedList;

    Renew m_renew;
    RenewedInChild* m_previous = nullptr;
    RenewedInChild* m_next = nullptr;
};

} }  // namespace vexa2::python
