// bench/native/baselines.cpp: the native baselines the benchmarks compare dedezi against, each
// the least a binding could do for the same work.
#include <boost/python.hpp>

#include <chrono>
#include <thread>

namespace bp = boost::python;

void exportFloors();  // floors.cpp

namespace {

// A bare native thread calling a Python callable n times, taking the interpreter lock for each
// call the way any library thread must. Gives the seconds the thread spent.
double threadCalls(bp::object callable, int n)
{
    PyObject* target = callable.ptr();
    double seconds = 0.0;
    Py_BEGIN_ALLOW_THREADS
    std::thread caller([&] {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < n; ++i)
        {
            PyGILState_STATE state = PyGILState_Ensure();
            PyObject* result = PyObject_CallNoArgs(target);
            Py_XDECREF(result);
            PyErr_Clear();
            PyGILState_Release(state);
        }
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    });
    caller.join();
    Py_END_ALLOW_THREADS
    return seconds;
}

// The cheapest attribute a binding can offer: a read-only property over a plain field.
struct Trivial
{
    double value = 1.25;
    double getValue() const { return value; }
};

// The cheapest method a binding can offer that takes two ints.
struct Grid
{
    double at(int i, int j) const { return i + j * 0.5; }
};

}  // namespace

BOOST_PYTHON_MODULE(dedezi_bench)
{
    bp::def("thread_calls", threadCalls);
    bp::class_<Trivial>("Trivial").add_property("value", &Trivial::getValue);
    bp::class_<Grid>("Grid").def("at", &Grid::at);
    exportFloors();
}
