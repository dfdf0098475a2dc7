// tests/native/test_bridge_gil_guard.cpp: the interpreter-lock guard nests, and a thread the
// interpreter never saw (as the library's are) can take it and run Python, keeping one state for
// its life.
#include "GILGuard.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

using vexa2::python::GILGuard;

TEST(BridgeGilGuard, NestsAndLeavesTheLockWithTheThreadUntilTheOuterGuardEnds)
{
    ASSERT_EQ(PyGILState_Check(), 0);
    {
        GILGuard outer;
        EXPECT_EQ(PyGILState_Check(), 1);
        {
            GILGuard inner;
            EXPECT_EQ(PyGILState_Check(), 1);
        }
        EXPECT_EQ(PyGILState_Check(), 1);
        PyObject* value = PyLong_FromLong(7);
        ASSERT_NE(value, nullptr);
        Py_DECREF(value);
    }
    EXPECT_EQ(PyGILState_Check(), 0);
}

TEST(BridgeGilGuard, ANewNativeThreadTakesItAndRunsPython)
{
    auto ran = std::async(std::launch::async, [] {
        const int before = PyGILState_Check();
        long result = -1;
        {
            GILGuard guard;
            PyObject* sum = PyRun_String("sum(range(10))", Py_eval_input,
                                         PyEval_GetBuiltins(), PyEval_GetBuiltins());
            if (sum)
            {
                result = PyLong_AsLong(sum);
                Py_DECREF(sum);
            }
            else
                PyErr_Clear();
        }
        return std::make_tuple(before, result, PyGILState_Check());
    });
    ASSERT_EQ(ran.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    const auto [before, result, after] = ran.get();
    EXPECT_EQ(before, 0);
    EXPECT_EQ(result, 45);
    EXPECT_EQ(after, 0);
}

namespace {

// With the lock held.
int interpreterStates()
{
    int count = 0;
    for (PyThreadState* state = PyInterpreterState_ThreadHead(PyInterpreterState_Main()); state;
         state = PyThreadState_Next(state))
        ++count;
    return count;
}

}  // namespace

// A library thread keeps the state its first guard makes until it ends, and each of its
// callbacks starts as on a fresh state would: with no error set.
TEST(BridgeGilGuard, ALibraryThreadKeepsOneStateForItsLifeAndGivesItBackAtItsEnd)
{
    int before = 0;
    {
        GILGuard gil;
        Py_MakePendingCalls();  // states of threads that earlier tests ended
        before = interpreterStates();
    }
    struct Seen
    {
        PyThreadState* first = nullptr;
        PyThreadState* between = nullptr;
        PyThreadState* second = nullptr;
        int states = 0;
        bool errorAtSecond = true;
    } seen;
    std::thread library([&seen] {
        {
            GILGuard outer;
            seen.first = PyThreadState_Get();
            {
                GILGuard inner;
                PyErr_SetString(PyExc_RuntimeError, "left set by a report");
            }
        }
        seen.between = PyGILState_GetThisThreadState();
        for (int i = 0; i < 100; ++i)
            GILGuard again;
        GILGuard last;
        seen.second = PyThreadState_Get();
        seen.states = interpreterStates();
        seen.errorAtSecond = PyErr_Occurred() != nullptr;
    });
    library.join();
    EXPECT_NE(seen.first, nullptr);
    EXPECT_EQ(seen.between, seen.first);
    EXPECT_EQ(seen.second, seen.first);
    EXPECT_EQ(seen.states, before + 1);
    EXPECT_FALSE(seen.errorAtSecond);

    GILGuard gil;
    // The ended thread's state is deleted by the main thread, between two steps of Python.
    EXPECT_EQ(Py_MakePendingCalls(), 0);
    EXPECT_EQ(interpreterStates(), before);
}
