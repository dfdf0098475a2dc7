// source/main.cpp: the module's entry. The module body sets the docstring options and runs the
// registration calls in their fixed order; a failing registration is reported and fails the import.
// Only the main interpreter imports the module, and only once in the process's life (ModuleStart).
#include <boost/python.hpp>

#include "Messages.h"
#include "ModuleStart.h"
#include "PythonExit.h"
#include "Registrations.h"
#include "TextArguments.h"

#ifdef DEDEZI_REGISTRATION_FAULT
#include <cstdio>
#include <cstdlib>
#endif

namespace {

#ifdef DEDEZI_REGISTRATION_FAULT
// Test-only build: DEDEZI_FAIL_AT_CALL=k makes call k raise instead of running, and every call
// attempted leaves a line on stderr, so a test can see where the sequence stopped.
void registration(int number, void (*call)())
{
    std::fprintf(stderr, "registration call %d\n", number);
    std::fflush(stderr);
    const char* failAt = std::getenv("DEDEZI_FAIL_AT_CALL");
    if (failAt != nullptr && std::atoi(failAt) == number)
    {
        PyErr_Format(PyExc_RuntimeError, "registration call %d made to fail", number);
        boost::python::throw_error_already_set();
    }
    call();
}
#else
inline void registration(int, void (*call)())
{
    call();
}
#endif

// A no-op since 3.9, kept so that the library's threads may take the interpreter lock on any
// interpreter this module is built for.
void initInterpreterThreads()
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    PyEval_InitThreads();
#pragma GCC diagnostic pop
}

void exportAll()
{
    initInterpreterThreads();
    // From the start, so that no thread meets an interpreter that exits under it.
    vexa2::python::watchInterpreterExit();
    registerTextArguments();
    // Bases before the classes derived from them; enums before the signatures that use them.
    registration(1, initColumnNames);
    registration(2, exportConstants);
    registration(3, exportSessionStatus);
    registration(4, exportTransport);
    registration(5, exportTimeframe);
    registration(6, exportRequest);
    registration(7, exportResponse);
    registration(8, exportSession);
    registration(9, exportSystemPropertiesListener);
    registration(10, exportChartSessionStatus);
    registration(11, exportTables);
    registration(12, exportResponseListener);
    registration(13, exportLoginRules);
    registration(14, exportTradingSettingsProvider);
    registration(15, exportPermissionChecker);
    registration(16, registerDateTimeConverters);
    registration(17, exportPlentaCommunicatorFactory);
    registration(18, exportTimeframeFactory);
    registration(19, exportPlentaCommunicatorRequest);
    registration(20, exportPlentaCommunicatorResponse);
    registration(21, exportPlentaCommunicator);
}

// The module body.
void init_module_dedezi()
{
    // Only the docstrings written for each binding; the previous options come back on any exit.
    boost::python::docstring_options options(true, false, false);
    try
    {
        exportAll();
    }
    catch (const boost::python::error_already_set&)
    {
        // The error stays set, so the interpreter fails the import.
        vexa2::python::reportPythonError("init_module_dedezi", "source\\main", 58);
    }
}

}  // namespace

PyMODINIT_FUNC PyInit_dedezi()
{
    static vexa2::python::ModuleStart start("dedezi", &init_module_dedezi);
    return start.definition();
}
