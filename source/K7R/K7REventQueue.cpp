// source/K7R/K7REventQueue.cpp: the conversion of a Python callable into the breaker of a queue's
// breakable wait, and the count of each queue's emptyings that sliced waits watch.
#include "K7R/K7REventQueue.h"

#include <pthread.h>

#include <memory>
#include <mutex>
#include <unordered_map>

#include "ForkRenewal.h"

namespace bp = boost::python;

namespace vexa2 { namespace python {

namespace {

// A queue's entry is made by its first emptying and stays: a few per session at most. A queue
// that went and whose address came back takes the count over, which only a wait that began
// before its emptying compares against. The map is made as the module loads and never
// destroyed, since a wait may outlast the module's static objects.
std::mutex g_emptyingsMutex;  // taken with nothing else
auto* const g_emptyings = new std::unordered_map<const void*, std::uint64_t>();

// A fork made while another thread counts finds the counts whole, and a lock no one holds.
const int g_forkWatched = pthread_atfork([] { g_emptyingsMutex.lock(); }, [] { g_emptyingsMutex.unlock(); },
                                         [] { renewInChild(g_emptyingsMutex); });

// Calls the Python callable; the wait calls it with the lock held. The callable's reference goes
// back under the lock, wherever the breaker's last copy goes.
struct PythonBreaker
{
    std::shared_ptr<PyObject> callable;

    bool operator()() const
    {
        PyObject* result = PyObject_CallNoArgs(callable.get());
        if (!result)
            bp::throw_error_already_set();
        const int truth = PyObject_IsTrue(result);
        Py_DECREF(result);
        if (truth < 0)
            bp::throw_error_already_set();
        return truth != 0;
    }
};

void* breakerConvertible(PyObject* object)
{
    return object == Py_None || PyCallable_Check(object) ? object : nullptr;
}

void constructBreaker(PyObject* object, bp::converter::rvalue_from_python_stage1_data* data)
{
    void* storage =
        reinterpret_cast<bp::converter::rvalue_from_python_storage<K7RQueueBreaker>*>(data)->storage.bytes;
    if (object == Py_None)
    {
        new (storage) K7RQueueBreaker();
    }
    else
    {
        Py_INCREF(object);
        std::shared_ptr<PyObject> held(object, [](PyObject* callable) {
            GILGuard gil;
            Py_DECREF(callable);
        });
        new (storage) K7RQueueBreaker(PythonBreaker{std::move(held)});
    }
    data->convertible = storage;
}

}  // namespace

std::uint64_t queueEmptyings(const void* queue)
{
    std::lock_guard<std::mutex> lock(g_emptyingsMutex);
    const auto found = g_emptyings->find(queue);
    return found == g_emptyings->end() ? 0 : found->second;
}

void countQueueEmptying(const void* queue)
{
    std::lock_guard<std::mutex> lock(g_emptyingsMutex);
    ++(*g_emptyings)[queue];
}

void registerQueueBreaker()
{
    static const bool registered = [] {
        bp::converter::registry::push_back(&breakerConvertible, &constructBreaker,
                                           bp::type_id<K7RQueueBreaker>());
        return true;
    }();
    (void)registered;
}

} }  // namespace vexa2::python
