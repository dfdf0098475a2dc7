// bench/native/baselines.cpp: the native baselines the benchmarks compare dedezi against, each
// the least a binding could do for the same work.
#include <boost/python.hpp>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace bp = boost::python;

void exportFloors();  // floors.cpp

namespace {

// The floor of a callback: a foreign thread that keeps one interpreter state for its life, as
// a library thread may, taking the lock n times and calling callable(*args) each time. Gives the
// seconds of the n calls.
double keptThreadCalls(bp::object callable, bp::tuple args, int n)
{
    PyObject* target = callable.ptr();
    PyObject* arguments = args.ptr();
    double seconds = 0.0;
    Py_BEGIN_ALLOW_THREADS
    std::thread caller([&] {
        const PyGILState_STATE kept = PyGILState_Ensure();
        PyThreadState* state = PyEval_SaveThread();
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < n; ++i)
        {
            const PyGILState_STATE gil = PyGILState_Ensure();
            PyObject* result = PyObject_Call(target, arguments, nullptr);
            Py_XDECREF(result);
            PyErr_Clear();
            PyGILState_Release(gil);
        }
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        PyEval_RestoreThread(state);
        PyGILState_Release(kept);
    });
    caller.join();
    Py_END_ALLOW_THREADS
    return seconds;
}

// The floor of a request's round trip: post() hands one call of callable(*args) to a worker
// thread that keeps its interpreter state, as a library thread answering a request does.
class Handoff
{
public:
    Handoff(bp::object callable, bp::tuple args)
        : m_callable(callable), m_args(args), m_worker([this] { run(); })
    {
    }
    ~Handoff() { close(); }

    void post()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_posted;
        m_wake.notify_one();
    }

    // The worker takes the lock to give its state back: it is joined without the lock.
    void close()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_closing = true;
            m_wake.notify_one();
        }
        if (!m_worker.joinable())
            return;
        Py_BEGIN_ALLOW_THREADS
        m_worker.join();
        Py_END_ALLOW_THREADS
    }

private:
    void run()
    {
        const PyGILState_STATE kept = PyGILState_Ensure();
        PyThreadState* state = PyEval_SaveThread();
        for (;;)
        {
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait(lock, [this] { return m_closing || m_posted > 0; });
                if (m_posted == 0)
                    break;
                --m_posted;
            }
            const PyGILState_STATE gil = PyGILState_Ensure();
            PyObject* result = PyObject_Call(m_callable.ptr(), m_args.ptr(), nullptr);
            Py_XDECREF(result);
            PyErr_Clear();
            PyGILState_Release(gil);
        }
        PyEval_RestoreThread(state);
        PyGILState_Release(kept);
    }

    bp::object m_callable;
    bp::tuple m_args;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    int m_posted = 0;
    bool m_closing = false;
    std::thread m_worker;
};

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
    bp::def("kept_thread_calls", keptThreadCalls);
    bp::class_<Handoff, boost::noncopyable>("Handoff", bp::init<bp::object, bp::tuple>())
        .def("post", &Handoff::post)
        .def("close", &Handoff::close);
    bp::class_<Trivial>("Trivial").add_property("value", &Trivial::getValue);
    bp::class_<Grid>("Grid").def("at", &Grid::at);
    exportFloors();
}
