// tests/native/main.cpp: runs the native tests with an interpreter available to those that need
// one. The main thread gives the interpreter lock back at once; a test takes it with GILGuard.
#include <Python.h>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    Py_InitializeEx(0);
    PyThreadState* mainThread = PyEval_SaveThread();
    const int result = RUN_ALL_TESTS();
    PyEval_RestoreThread(mainThread);
    // The interpreter is left for process exit: stand-in threads may still hold references.
    return result;
}
