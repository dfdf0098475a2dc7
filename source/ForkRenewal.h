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

// Objects of any lifetime whose locks and counts a fork must renew: each is listed from
// listForRenewal to unlistForRenewal, and in the child `renew(object)` runs for each on the forking
// thread, before any Python code runs there. The list is kept apart, so that the objects' layout,
// which their hot paths read, stays as it is.
void listForRenewal(void* object, void (*renew)(void*));
void unlistForRenewal(void* object);

} }  // namespace vexa2::python
