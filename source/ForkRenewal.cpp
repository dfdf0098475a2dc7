// source/ForkRenewal.cpp: the list of objects renewed in a fork's child, and its fork handlers.
#include "ForkRenewal.h"

#include <pthread.h>

#include <mutex>

namespace vexa2 { namespace python {

class RenewedList
{
public:
    static void add(RenewedInChild& object)
    {
        std::lock_guard<std::mutex> lock(s_mutex);
        object.m_next = s_first;
        if (s_first)
            s_first->m_previous = &object;
        s_first = &object;
    }

    static void remove(RenewedInChild& object)
    {
        std::lock_guard<std::mutex> lock(s_mutex);
        if (object.m_previous)
            object.m_previous->m_next = object.m_next;
        else
            s_first = object.m_next;
        if (object.m_next)
            object.m_next->m_previous = object.m_previous;
    }

    // Held across the fork, so that the child finds the list whole.
    static void prepare() { s_mutex.lock(); }
    static void parent() { s_mutex.unlock(); }
    static void child()
    {
        renewInChild(s_mutex);
        for (RenewedInChild* object = s_first; object; object = object->m_next)
            object->m_renew(*object);
    }

private:
    static std::mutex s_mutex;
    static RenewedInChild* s_first;  // guarded by s_mutex
};

std::mutex RenewedList::s_mutex;
RenewedInChild* RenewedList::s_first = nullptr;

namespace {
const int g_forkWatched = pthread_atfork(&RenewedList::prepare, &RenewedList::parent, &RenewedList::child);
}

RenewedInChild::RenewedInChild(Renew renew) : m_renew(renew)
{
    RenewedList::add(*this);
}

RenewedInChild::~RenewedInChild()
{
    RenewedList::remove(*this);
}

} }  // namespace vexa2::python
