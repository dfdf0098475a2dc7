// tests/embed/interpreter_starts.cpp: an embedding program that starts the interpreter once per
// argument, runs the argument as a script in it and finalizes it again, all in one process, as an
// application that embeds Python may. Exits with 0 when every script ran without an error and
// every finalize succeeded.
#include <Python.h>

#include <cstdio>

int main(int argc, char** argv)
{
    int failed = 0;
    for (int i = 1; i < argc; ++i)
    {
        Py_Initialize();
        if (PyRun_SimpleString(argv[i]) != 0)
            ++failed;
        if (Py_FinalizeEx() != 0)
            ++failed;
        std::fflush(stdout);
    }
    return failed == 0 ? 0 : 1;
}
