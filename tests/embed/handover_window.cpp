// tests/embed/handover_window.cpp: library threads that keep an interpreter state and end, one
// after the other, each taking its first entry (which deletes the states that ended threads handed
// over) while the one before it hands its state over, through a test build of the gate that makes
// the hand-over slow. The main thread runs its pending calls (which delete them too) meanwhile.
// Exits with 0 once every thread ended and the interpreter finalized; a state read after it was
// deleted ends it with a crash.
#include <Python.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "GILGuard.h"

int main()
{
    constexpr int kThreads = 20;
    // The debug allocator fills what it frees, so that a state read after it was deleted is
    // garbage even to the interpreter's own code, which no sanitizer watches.
    PyPreConfig preconfig;
    PyPreConfig_InitPythonConfig(&preconfig);
    preconfig.allocator = PYMEM_ALLOCATOR_MALLOC_DEBUG;
    Py_PreInitialize(&preconfig);
    Py_InitializeEx(0);
    PyThreadState* mainThread = PyEval_SaveThread();
    std::mutex mutex;
    std::condition_variable changed;
    int entered = 0;  // threads whose one entry is over: each then ends, handing its state over
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
    {
        threads.emplace_back([&] {
            {
                vexa2::python::GILGuard gil;  // the first entry: keeps a state for the thread's life
            }
            std::lock_guard<std::mutex> lock(mutex);
            ++entered;
            changed.notify_all();
        });
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return entered == i + 1; });
    }
    PyEval_RestoreThread(mainThread);
    for (std::thread& thread : threads)
    {
        Py_BEGIN_ALLOW_THREADS
        thread.join();
        Py_END_ALLOW_THREADS
        Py_MakePendingCalls();
    }
    std::printf("%d threads ended\n", kThreads);
    return Py_FinalizeEx() == 0 ? 0 : 1;
}
