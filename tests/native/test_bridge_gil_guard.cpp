// tests/native/test_bridge_gil_guard.cpp: the interpreter-lock guard nests, and a thread the
// interpreter never saw (as the library's are) can take it and run Python.
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
