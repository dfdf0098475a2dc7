// The message builders, the raise sequence and the callback error report. Each builder loads its
// text from the module's string table and keeps a built-in copy for when the load fails.
#include "Messages.h"

#include "GILGuard.h"
#include "ModuleHandle.h"
#include "PythonExit.h"

#include <boost/python/errors.hpp>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kMessageCapacity = 4096;

// Arguments are inserted, never read as a format; a null text prints as such, not as a crash.
const char* argument(const char* value)
{
    return value ? value : "(null)";
}

// Load, fall back to the built-in copy, format into the same buffer. vsnprintf cuts the result
// at kMessageCapacity - 1 characters. The attribute checks every call against its built-in copy.
__attribute__((format(printf, 2, 3)))
std::string buildMessage(unsigned id, const char* builtIn, ...)
{
    char buffer[kMessageCapacity] = {};
    const int loaded = LoadStringA(vexa2::python::g_moduleHandle, id, buffer, kMessageCapacity);
    // The buffer is reused for the result, so the format needs a copy of its own.
    const std::string format =
        loaded > 0 ? std::string(buffer, static_cast<size_t>(loaded)) : std::string(builtIn);
    va_list arguments;
    va_start(arguments, builtIn);
    const int written = std::vsnprintf(buffer, kMessageCapacity, format.c_str(), arguments);
    va_end(arguments);
    if (written < 0)
        buffer[0] = '\0';
    buffer[kMessageCapacity - 1] = '\0';
    return std::string(buffer);
}

}  // namespace

std::string msgIndexOutOfBounds()
{
    return buildMessage(1001, "Index out of bounds");
}

std::string msgAttributeNotFound(const char* name)
{
    return buildMessage(1002, "Attribute not found '%s'", argument(name));
}

std::string msgUnknownError()
{
    return buildMessage(1003, "UnknownError");
}

std::string msgReportUrlNotSupported()
{
    return buildMessage(1004, "Report URL is not supported");
}

std::string msgReportUrlBufferTooSmall()
{
    return buildMessage(1005, "The buffer is too small");
}

std::string msgReportUrlSessionNotLogged()
{
    return buildMessage(1006, "Session not logged");
}

std::string msgReportUrlSessionNotValid()
{
    return buildMessage(1007, "Session is not valid");
}

std::string msgReportUrlNotEnoughMemory()
{
    return buildMessage(1008, "Not enough memory");
}

std::string msgReportUrlTokenNotReceived()
{
    return buildMessage(1009, "Token not received");
}

std::string msgReportUrlNoAuthId()
{
    return buildMessage(1010, "Session doesn't have auth id");
}

std::string msgReportUrlNoSubId()
{
    return buildMessage(1011, "Expected subid, but not given");
}

std::string msgReportUrlNoAccountId()
{
    return buildMessage(1012, "Expected account id, but not given");
}

std::string msgTokenNotSupported()
{
    return buildMessage(1013, "Token is not supported");
}

std::string msgTokenBufferTooSmall()
{
    return buildMessage(1014, "The buffer is too small");
}

std::string msgTokenSessionNotLogged()
{
    return buildMessage(1015, "Session not logged");
}

std::string msgTokenSessionNotValid()
{
    return buildMessage(1016, "Session is not valid");
}

std::string msgTokenNotReceived()
{
    return buildMessage(1017, "Token not received");
}

std::string msgIteratorReachedEnd()
{
    return buildMessage(1018, "Iterator reached the end of the collection");
}

std::string msgOnlyStringOrIntegerValue()
{
    return buildMessage(1020, "Strings and integer only support as value");
}

std::string msgArraysLengthsNotEqual()
{
    return buildMessage(1021, "Arrays lengths not equeal");
}

std::string msgColumnNamesMustBeStrings()
{
    return buildMessage(1022, "ColumnNames must contains only string");
}

std::string msgConditionsMustBeRelationalOperators()
{
    return buildMessage(1023, "conditions must contains only K7RRelationalOperators");
}

std::string msgOnlyTwoValues()
{
    return buildMessage(1024, "Only 2 values must be contains in values");
}

std::string msgEventQueueEmpty()
{
    return buildMessage(1025, "Event queue is empty");
}

std::string msgTimeIsOut()
{
    return buildMessage(1026, "time is out");
}

std::string msgFailedToGetZorvat()
{
    return buildMessage(1027, "Failed to get Zorvat");
}

std::string msgUpdateInstrumentsTaskCanceled()
{
    return buildMessage(1028, "Update instruments task canceled");
}

std::string msgTimeframeFactoryNull()
{
    return buildMessage(1029, "Timefractory is nullptr");
}

std::string msgCannotCreateRequest()
{
    return buildMessage(1030, "Cannot create request");
}

std::string msgCannotSendRequest()
{
    return buildMessage(1031, "Cannot send request");
}

std::string msgRequestCanceled()
{
    return buildMessage(1032, "Request is canceled");
}

std::string msgResponseNull()
{
    return buildMessage(1033, "Response is nullptr");
}

std::string msgExpectedDateTime()
{
    return buildMessage(1034, "Expected DateTime type");
}

std::string msgCannotConvertTime()
{
    return buildMessage(1035, "Can't convert time");
}

std::string msgSystemPropertyNotFound(const char* name)
{
    return buildMessage(1036, "System property %s not found", argument(name));
}

std::string msgZorvatLocked(const char* text, int subcode)
{
    return buildMessage(1037, "Zorvat error: %s code: Locked subcode: %d", argument(text), subcode);
}

std::string msgZorvatQuotesCatalogBusy(const char* text, int subcode)
{
    return buildMessage(1038, "Zorvat error: %s code: QuotesCatalogBusy subcode: %d",
                        argument(text), subcode);
}

std::string msgZorvatQuotesCacheBusy(const char* text, int subcode)
{
    return buildMessage(1039, "Zorvat error: %s code: QuotesCacheBusy subcode: %d",
                        argument(text), subcode);
}

std::string msgZorvatQuotesCacheCorrupted(const char* text, int subcode)
{
    return buildMessage(1040, "Zorvat error: %s code: QuotesCacheCorrupted subcode: %d",
                        argument(text), subcode);
}

std::string msgZorvatQuotesServerConnectionError(const char* text, int subcode)
{
    return buildMessage(1041, "Zorvat error: %s code: QuotesServerConnectionError subcode: %d",
                        argument(text), subcode);
}

std::string msgZorvatLoadingError(const char* text, int subcode)
{
    return buildMessage(1042, "Zorvat error: %s code: LoadingError subcode: %d",
                        argument(text), subcode);
}

std::string msgZorvatQuotesLoaderError(const char* text, int subcode)
{
    return buildMessage(1043, "Zorvat error: %s code: QuotesLoaderError subcode: %d",
                        argument(text), subcode);
}

std::string msgZorvatQuotesNotFound(const char* text, int subcode)
{
    return buildMessage(1044, "Zorvat error: %s code: QuotesNotFound subcode: %d",
                        argument(text), subcode);
}

std::string msgZorvatBadArgument(const char* text, int subcode)
{
    return buildMessage(1045, "Zorvat error: %s code: BadArgument subcode: %d",
                        argument(text), subcode);
}

std::string msgZorvatOtherError(const char* text, int subcode)
{
    return buildMessage(1046, "Zorvat error: %s code: OtherError subcode: %d",
                        argument(text), subcode);
}

std::string msgZorvatLimitReached(const char* text, int subcode)
{
    return buildMessage(1047, "Zorvat error: %s code: LimitReached subcode: %d",
                        argument(text), subcode);
}

std::string msgPlentaNotReady(const char* text)
{
    return buildMessage(1048, "Plenta error: %s code: NotReady", argument(text));
}

std::string msgPlentaBadArguments(const char* text)
{
    return buildMessage(1049, "Plenta error: %s code: BadArguments", argument(text));
}

std::string msgPlentaOtherError(const char* text)
{
    return buildMessage(1050, "Plenta error: %s code: OtherError", argument(text));
}

std::string msgCallbackException(const char* traceback, const char* function, const char* file,
                                 int line)
{
    return buildMessage(1051, "Exception %s in function '%s' in file '%s' line %d",
                        argument(traceback), argument(function), argument(file), line);
}

std::string msgPureVirtualCalled(const char* name)
{
    return buildMessage(1052, "Pure virtual method called: '%s'", argument(name));
}

namespace vexa2 { namespace python {

std::string shownName(std::string_view name)
{
    std::string shown;
    shown.reserve(name.size());
    for (const char c : name)
    {
        if (c == '\0')
            shown += "\\x00";
        else
            shown += c;
    }
    return shown;
}

void raiseMessage(PyObject* type, const std::string& text)
{
    GILGuard guard;
    // As PyErr_SetString, but bytes that are not UTF-8 (a text cut inside a character, a
    // library's own bytes) are replaced instead of losing the whole message.
    PyObject* message = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()),
                                             "replace");
    if (message) {
        PyErr_SetObject(type, message);
        Py_DECREF(message);
    }
    throw boost::python::error_already_set();
}

namespace {

// When the traceback module cannot format the error (not importable, raising itself), the report
// still names the exception's type: "<type name> (traceback unavailable)".
std::string unformattedError(PyObject* type)
{
    const char* name = "None";
    if (type && PyType_Check(type))
        name = reinterpret_cast<PyTypeObject*>(type)->tp_name;
    else if (type)
        name = "unknown";
    return std::string(name) + " (traceback unavailable)\n";
}

// "\n".join of traceback's lines for the error; never leaves a Python error set.
std::string formatError(PyObject* type, PyObject* value, PyObject* traceback)
{
    PyObject* module = PyImport_ImportModule("traceback");
    PyObject* lines = nullptr;
    if (module) {
        PyObject* const shownType = type ? type : Py_None;
        PyObject* const shownValue = value ? value : Py_None;
        lines = traceback && traceback != Py_None
                    ? PyObject_CallMethod(module, "format_exception", "OOO", shownType,
                                          shownValue, traceback)
                    : PyObject_CallMethod(module, "format_exception_only", "OO", shownType,
                                          shownValue);
    }
    PyObject* separator = lines ? PyUnicode_FromString("\n") : nullptr;
    PyObject* joined = separator ? PyUnicode_Join(separator, lines) : nullptr;
    PyObject* bytes = joined ? PyUnicode_AsEncodedString(joined, "utf-8", "backslashreplace")
                             : nullptr;
    std::string result;
    if (bytes)
        result.assign(PyBytes_AS_STRING(bytes), static_cast<size_t>(PyBytes_GET_SIZE(bytes)));
    else {
        PyErr_Clear();
        result = unformattedError(type);
    }
    Py_XDECREF(bytes);
    Py_XDECREF(joined);
    Py_XDECREF(separator);
    Py_XDECREF(lines);
    Py_XDECREF(module);
    return result;
}

// Writes `text` to sys.stderr and flushes it, so that a script's redirection sees the report;
// false when there is no sys.stderr or writing to it fails. Leaves no Python error set. The write
// runs Python code, during which the interpreter may end this thread at exit: nothing here gives
// a reference back while unwinding.
bool writeToSysStderr(const std::string& text)
{
    PyObject* const current = PySys_GetObject("stderr");
    if (!current || current == Py_None)
        return false;
    // The write may replace sys.stderr and drop the stream it is running on.
    const PythonReference stream(Py_NewRef(current));
    const PythonReference message(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
    const PythonReference written(
        message.get() ? PyObject_CallMethod(stream.get(), "write", "O", message.get()) : nullptr);
    if (!written.get())
    {
        PyErr_Clear();
        return false;
    }
    // A stream that took the text but cannot flush has it all the same: no second copy.
    const PythonReference flushed(PyObject_CallMethod(stream.get(), "flush", nullptr));
    if (!flushed.get())
        PyErr_Clear();
    return true;
}

}  // namespace

void reportPythonError(const char* function, const char* file, int line)
{
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);

    // Formatting works on a normalised copy, so that the error goes back exactly as found.
    PyObject* shownType = type;
    PyObject* shownValue = value;
    PyObject* shownTraceback = traceback;
    Py_XINCREF(shownType);
    Py_XINCREF(shownValue);
    Py_XINCREF(shownTraceback);
    PyErr_NormalizeException(&shownType, &shownValue, &shownTraceback);
    const std::string text = formatError(shownType, shownValue, shownTraceback);
    Py_XDECREF(shownTraceback);
    Py_XDECREF(shownValue);
    Py_XDECREF(shownType);

    const std::string report = msgCallbackException(text.c_str(), function, file, line) + "\n";
    if (!writeToSysStderr(report))
    {
        std::fputs(report.c_str(), stderr);
        std::fflush(stderr);
    }

    PyErr_Restore(type, value, traceback);
}

} }  // namespace vexa2::python
