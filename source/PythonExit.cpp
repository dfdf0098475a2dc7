// source/PythonExit.cpp: the interpreter gate of threads coming back to Python, its closing at
// exit, and which threads are the library's.
#include "PythonExit.h"

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "ForkRenewal.h"

namespace vexa2 { namespace python {

namespace {

// The counts are tested and changed on one side and the flags on the other, both sequentially
// consistent: either a thread sees the gate closed, or the exit sees the thread counted.
std::atomic<bool> g_closed{false};  // exit began: no more entries
std::atomic<bool> g_over{false};    // exit stopped waiting: no thread takes the lock back
std::atomic<int> g_inside{0};       // admitted entries
std::atomic<int> g_retaking{0};     // threads taking the lock back right now
std::atomic<std::thread::id> g_exiting{};  // the thread running the exit, set before g_closed
std::mutex g_mutex;
std::condition_variable g_changed;
bool g_watched = false;  // guarded by the interpreter lock

thread_local int t_entries = 0;  // admitted entries open on this thread
thread_local bool t_worker = false;

// How long exit waits for callbacks still running; one that runs longer is left to the
// interpreter. Threads already taking the lock back get it at once while exit waits.
constexpr auto kExitWait = std::chrono::seconds(5);
constexpr auto kRetakeWait = std::chrono::seconds(1);

// Before exit began no one waits on the counts, so the last one out only wakes the exit after
// it. Sound by the seq_cst order: a thread that reads g_closed false made its decrement before
// the exit's store of g_closed, so the exit's later reads of the count see it; one that reads it
// true notifies under the mutex, after the exit's predicate test or before it.
void leave(std::atomic<int>& count)
{
    if (count.fetch_sub(1) == 1 && g_closed.load())
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_changed.notify_all();
    }
}

bool exitingThread()
{
    return g_closed.load() && g_exiting.load() == std::this_thread::get_id();
}

// A thread that would be ended inside our frames: it waits here for the process to end.
[[noreturn]] void park()
{
    for (;;)
        std::this_thread::sleep_for(std::chrono::hours(1));
}

// The scope of one taking back of the lock. After exit began, only a thread inside a callback
// (exit waits for those) and the exiting thread may; once exit stopped waiting, none but the
// exiting thread.
class Retake
{
public:
    Retake()
    {
        if (exitingThread())
            return;
        g_retaking.fetch_add(1);
        m_counted = true;
        if (g_over.load() || (g_closed.load() && t_entries == 0))
        {
            leave(g_retaking);
            park();
        }
    }
    ~Retake()
    {
        if (m_counted)
            leave(g_retaking);
    }
    Retake(const Retake&) = delete;
    Retake& operator=(const Retake&) = delete;

private:
    bool m_counted = false;
};

// The states of library threads that ended, waiting for the main thread to delete them: a thread
// ending must not wait for the lock, as whoever joins it may hold it.
std::mutex g_endedMutex;
std::vector<PyThreadState*> g_ended;  // guarded by g_endedMutex
std::atomic<bool> g_deleteQueued{false};

// With the lock held. Once exit began, finalizing deletes them itself.
int deleteEndedStates(void*)
{
    g_deleteQueued.store(false);
    if (g_closed.load())
        return 0;
    std::vector<PyThreadState*> ended;
    {
        std::lock_guard<std::mutex> lock(g_endedMutex);
        ended.swap(g_ended);
    }
    for (PyThreadState* state : ended)
    {
        PyThreadState_Clear(state);
        PyThreadState_Delete(state);
    }
    return 0;
}

// The state this thread keeps, and its giving back when the thread ends.
thread_local PyThreadState* t_kept = nullptr;

struct KeptState
{
    bool armed = false;
    ~KeptState()
    {
        if (!t_kept)
            return;
        // Counted as taking the lock back, so that a closing gate waits for the hand-over.
        g_retaking.fetch_add(1);
        if (!g_closed.load() && Py_IsInitialized())
        {
            // Queuing the call reads this thread's state, which whoever empties the list deletes:
            // the list stays locked until the call is queued.
            std::lock_guard<std::mutex> lock(g_endedMutex);
            g_ended.push_back(t_kept);
#ifdef DEDEZI_HANDOVER_WINDOW_MS
            // Test build: the hand-over made slow, so that a thread deleting states meets it.
            std::this_thread::sleep_for(std::chrono::milliseconds(DEDEZI_HANDOVER_WINDOW_MS));
#endif
            // A full queue of pending calls: the next thread that makes a state deletes these.
            if (!g_deleteQueued.exchange(true) && Py_AddPendingCall(&deleteEndedStates, nullptr) != 0)
                g_deleteQueued.store(false);
        }
        t_kept = nullptr;
        leave(g_retaking);
    }
};
thread_local KeptState t_keeper;

// With the lock held, on the first entry of a thread the interpreter had no state for.
void keepThreadState()
{
    // One more count than any guard gives back: the state outlives them all.
    PyGILState_Ensure();
    t_kept = PyGILState_GetThisThreadState();
    t_keeper.armed = true;  // the first use registers the holder's end with the thread's
    // Without the exit hook no one would stop an ending thread from using a finalized
    // interpreter.
    watchInterpreterExit();
    deleteEndedStates(nullptr);
}

PyObject* closeGate(PyObject*, PyObject*)
{
    g_exiting.store(std::this_thread::get_id());
    g_closed.store(true);
    Py_BEGIN_ALLOW_THREADS
    {
        std::unique_lock<std::mutex> lock(g_mutex);
        g_changed.wait_for(lock, kExitWait,
                           [] { return g_inside.load() == 0 && g_retaking.load() == 0; });
    }
    g_over.store(true);
    {
        std::unique_lock<std::mutex> lock(g_mutex);
        g_changed.wait_for(lock, kRetakeWait, [] { return g_retaking.load() == 0; });
    }
    Py_END_ALLOW_THREADS
    Py_RETURN_NONE;
}

PyMethodDef g_closeGate = {"_close_interpreter_gate", closeGate, METH_NOARGS, nullptr};

// A fork copies the forking thread alone. The locks are taken around it, so that the child finds
// the list and the counts whole; the child's interpreter has freed the other threads' states, the
// ended ones too, and of the entries and the waits only the forking thread's own are left.
void prepareFork()
{
    g_mutex.lock();
    g_endedMutex.lock();
}

void afterForkInParent()
{
    g_endedMutex.unlock();
    g_mutex.unlock();
}

void afterForkInChild()
{
    renewInChild(g_endedMutex);
    renewInChild(g_mutex);
    renewInChild(g_changed);
    g_ended.clear();
    // A call queued before the fork finds the list empty; none is owed for it.
    g_deleteQueued.store(false);
    g_inside.store(t_entries);
    g_retaking.store(0);
}

const int g_forkWatched = pthread_atfork(&prepareFork, &afterForkInParent, &afterForkInChild);

}  // namespace

PythonEntry::PythonEntry()
{
    // Counted before the test, so that a closing gate waits for an entry that passed it.
    g_inside.fetch_add(1);
    m_admitted = !g_closed.load() || exitingThread();
    if (!m_admitted)
    {
        leave(g_inside);
        return;
    }
    ++t_entries;
}

PythonEntry::~PythonEntry()
{
    if (!m_admitted)
        return;
    --t_entries;
    leave(g_inside);
}

void restoreThread(PyThreadState* state)
{
    Retake retake;
    PyEval_RestoreThread(state);
}

PyGILState_STATE ensureThread()
{
    if (holdsInterpreterLock())
        return PyGILState_Ensure();  // nested: nothing is taken
    Retake retake;
    if (t_kept || PyGILState_GetThisThreadState())
        return PyGILState_Ensure();
    const PyGILState_STATE state = PyGILState_Ensure();
    keepThreadState();
    return state;
}

void releaseThread(PyGILState_STATE state)
{
    if (holdsInterpreterLock())
        releaseHeldThread(state);
}

void releaseHeldThread(PyGILState_STATE state)
{
    if (state == PyGILState_UNLOCKED && t_kept)
        PyErr_Clear();
    PyGILState_Release(state);
}

bool holdsInterpreterLock()
{
    // While the interpreter finalizes only the thread finalizing it holds the lock, and the
    // interpreter's own answer may no longer be sound.
    if (!Py_IsInitialized())
        return exitingThread();
    // PyGILState_Check's own test, without its switch: once any sub-interpreter was made, it
    // answers 1 on every thread. A thread that keeps its state knows it without asking.
    PyThreadState* holder = _PyThreadState_UncheckedGet();
    return holder && holder == (t_kept ? t_kept : PyGILState_GetThisThreadState());
}

bool onLibraryThread()
{
    return t_entries > 0 || t_worker;
}

void markLibraryThread()
{
    t_worker = true;
}

void watchInterpreterExit()
{
    // The end of a sub-interpreter is not the process's: only the main interpreter's exit closes
    // the gate.
    if (g_watched || PyInterpreterState_Get() != PyInterpreterState_Main())
        return;
    g_watched = true;  // before the import below, which may let the lock go
    PyObject* close = PyCFunction_New(&g_closeGate, nullptr);
    PyObject* atexit = PyImport_ImportModule("atexit");
    PyObject* done = close && atexit ? PyObject_CallMethod(atexit, "register", "O", close) : nullptr;
    if (!done)
        PyErr_Clear();  // without the hook exit is as before: nothing worse
    Py_XDECREF(done);
    Py_XDECREF(atexit);
    Py_XDECREF(close);
}

bool interpreterExited()
{
    return g_closed.load();
}

bool exitLeftThreadsInside()
{
    return g_over.load() && g_inside.load() > 0;
}

} }  // namespace vexa2::python
