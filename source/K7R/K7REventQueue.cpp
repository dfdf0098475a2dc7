// source/K7R/K7REventQueue.cpp: the conversion of a Python callable into the breaker of a queue's
// breakable wait.
#include "K7R/K7REventQueue.h"

#include <memory>

namespace bp = boost::python;

namespace vexa2 { namespace python {

namespace {

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
