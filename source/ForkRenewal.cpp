// source/ForkRenewal.cpp: the list of objects renewed in a fork's child, and its fork handlers.
#include "ForkRenewal.h"

#include <pthread.h>

#include <mutex>
#include <unordered_map>

namespace vexa2 { namespace python {

namespace {

std::mutex g_mutex;
std::unordered_map<void*, void (*)(void*)> g_listed;  // guarded by g_mutex

// The list is held across the fork, so that the child finds it whole.
void prepareFork()
{
    g_mutex.lock();
}

void afterForkInParent()
{
    g_mutex.unlock();
}

void afterForkInChild()
{
    renewInChild(g_mutex);
    for (const auto& [object, renew] : g_listed)
        renew(object);
}

const int g_forkWatched = pthread_atfork(&prepareFork, &afterForkInParent, &afterForkInChild);

}  // namespace

void listForRenewal(void* object, void (*renew)(void*))
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_listed.emplace(object, renew);
}

void unlistForRenewal(void* object)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_listed.erase(object);
}

} }  // namespace vexa2::python
