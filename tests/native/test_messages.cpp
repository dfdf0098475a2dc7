// tests/native/test_messages.cpp: the message table, its builders and built-in copies, the string
// loader of the platform layer and its miss switch, the raise sequence and the callback error
// report. This executable carries a string table of its own, exactly as the module does.
#include "GILGuard.h"
#include "Messages.h"
#include "ModuleHandle.h"
#include "../../standin/windows/StringTableControl.h"

#include <boost/python/errors.hpp>
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

using vexa2::python::GILGuard;

namespace {

// The loader's switch is process-wide: every test that touches it puts it back.
struct StringTableSwitch
{
    ~StringTableSwitch() { winapi_sim::resetStringTable(); }
};

std::string loadString(HINSTANCE instance, unsigned id, int capacity = 4096)
{
    std::vector<char> buffer(static_cast<size_t>(capacity > 0 ? capacity : 1), '\0');
    const int count = LoadStringA(instance, id, buffer.data(), capacity);
    return std::string(buffer.data(), static_cast<size_t>(count > 0 ? count : 0));
}

// ---- the table: every entry's text, and each builder over sample arguments ----

using Builder = std::variant<std::monostate,                       // 1019: no builder
                             std::string (*)(),
                             std::string (*)(const char*),
                             std::string (*)(const char*, int),
                             std::string (*)(const char*, const char*, const char*, int)>;

struct MessageCase
{
    unsigned id;
    const char* text;
    Builder build;
};

const MessageCase kMessages[] = {
    {1001, "Index out of bounds", &msgIndexOutOfBounds},
    {1002, "Attribute not found '%s'", &msgAttributeNotFound},
    {1003, "UnknownError", &msgUnknownError},
    {1004, "Report URL is not supported", &msgReportUrlNotSupported},
    {1005, "The buffer is too small", &msgReportUrlBufferTooSmall},
    {1006, "Session not logged", &msgReportUrlSessionNotLogged},
    {1007, "Session is not valid", &msgReportUrlSessionNotValid},
    {1008, "Not enough memory", &msgReportUrlNotEnoughMemory},
    {1009, "Token not received", &msgReportUrlTokenNotReceived},
    {1010, "Session doesn't have auth id", &msgReportUrlNoAuthId},
    {1011, "Expected subid, but not given", &msgReportUrlNoSubId},
    {1012, "Expected account id, but not given", &msgReportUrlNoAccountId},
    {1013, "Token is not supported", &msgTokenNotSupported},
    {1014, "The buffer is too small", &msgTokenBufferTooSmall},
    {1015, "Session not logged", &msgTokenSessionNotLogged},
    {1016, "Session is not valid", &msgTokenSessionNotValid},
    {1017, "Token not received", &msgTokenNotReceived},
    {1018, "Iterator reached the end of the collection", &msgIteratorReachedEnd},
    {1019, "Strings, double, boolean and integer only support as value", {}},
    {1020, "Strings and integer only support as value", &msgOnlyStringOrIntegerValue},
    {1021, "Arrays lengths not equeal", &msgArraysLengthsNotEqual},
    {1022, "ColumnNames must contains only string", &msgColumnNamesMustBeStrings},
    {1023, "conditions must contains only K7RRelationalOperators",
     &msgConditionsMustBeRelationalOperators},
    {1024, "Only 2 values must be contains in values", &msgOnlyTwoValues},
    {1025, "Event queue is empty", &msgEventQueueEmpty},
    {1026, "time is out", &msgTimeIsOut},
    {1027, "Failed to get Zorvat", &msgFailedToGetZorvat},
    {1028, "Update instruments task canceled", &msgUpdateInstrumentsTaskCanceled},
    {1029, "Timefractory is nullptr", &msgTimeframeFactoryNull},
    {1030, "Cannot create request", &msgCannotCreateRequest},
    {1031, "Cannot send request", &msgCannotSendRequest},
    {1032, "Request is canceled", &msgRequestCanceled},
    {1033, "Response is nullptr", &msgResponseNull},
    {1034, "Expected DateTime type", &msgExpectedDateTime},
    {1035, "Can't convert time", &msgCannotConvertTime},
    {1036, "System property %s not found", &msgSystemPropertyNotFound},
    {1037, "Zorvat error: %s code: Locked subcode: %d", &msgZorvatLocked},
    {1038, "Zorvat error: %s code: QuotesCatalogBusy subcode: %d", &msgZorvatQuotesCatalogBusy},
    {1039, "Zorvat error: %s code: QuotesCacheBusy subcode: %d", &msgZorvatQuotesCacheBusy},
    {1040, "Zorvat error: %s code: QuotesCacheCorrupted subcode: %d",
     &msgZorvatQuotesCacheCorrupted},
    {1041, "Zorvat error: %s code: QuotesServerConnectionError subcode: %d",
     &msgZorvatQuotesServerConnectionError},
    {1042, "Zorvat error: %s code: LoadingError subcode: %d", &msgZorvatLoadingError},
    {1043, "Zorvat error: %s code: QuotesLoaderError subcode: %d", &msgZorvatQuotesLoaderError},
    {1044, "Zorvat error: %s code: QuotesNotFound subcode: %d", &msgZorvatQuotesNotFound},
    {1045, "Zorvat error: %s code: BadArgument subcode: %d", &msgZorvatBadArgument},
    {1046, "Zorvat error: %s code: OtherError subcode: %d", &msgZorvatOtherError},
    {1047, "Zorvat error: %s code: LimitReached subcode: %d", &msgZorvatLimitReached},
    {1048, "Plenta error: %s code: NotReady", &msgPlentaNotReady},
    {1049, "Plenta error: %s code: BadArguments", &msgPlentaBadArguments},
    {1050, "Plenta error: %s code: OtherError", &msgPlentaOtherError},
    {1051, "Exception %s in function '%s' in file '%s' line %d", &msgCallbackException},
    {1052, "Pure virtual method called: '%s'", &msgPureVirtualCalled},
};

void PrintTo(const MessageCase& message, std::ostream* out)
{
    *out << message.id;
}

const char* const kText = "quotes server is gone";
const char* const kFunction = "on_session_status_changed";
const char* const kFile = "source\\K7R\\K7RSessionStatus";
const int kCode = -17;

template <typename... Args>
std::string formatted(const char* format, Args... args)
{
    std::vector<char> buffer(8192, '\0');
    std::snprintf(buffer.data(), buffer.size(), format, args...);
    return buffer.data();
}

// The builder's result over the sample arguments, and what the table's text gives for them.
struct Built
{
    std::string actual;
    std::string expected;
};

Built buildWithSamples(const MessageCase& message)
{
    struct Visitor
    {
        const char* format;
        Built operator()(std::monostate) const { return {}; }
        Built operator()(std::string (*build)()) const { return {build(), format}; }
        Built operator()(std::string (*build)(const char*)) const
        {
            return {build(kText), formatted(format, kText)};
        }
        Built operator()(std::string (*build)(const char*, int)) const
        {
            return {build(kText, kCode), formatted(format, kText, kCode)};
        }
        Built operator()(std::string (*build)(const char*, const char*, const char*, int)) const
        {
            return {build(kText, kFunction, kFile, kCode),
                    formatted(format, kText, kFunction, kFile, kCode)};
        }
    };
    return std::visit(Visitor{message.text}, message.build);
}

class MessageTableEntry : public testing::TestWithParam<std::tuple<MessageCase, bool>>
{
protected:
    StringTableSwitch m_switch;
};

TEST_P(MessageTableEntry, LoadedTextAndBuilderMatchTheTable)
{
    const MessageCase& message = std::get<0>(GetParam());
    const bool builtInCopy = std::get<1>(GetParam());

    EXPECT_EQ(loadString(vexa2::python::g_moduleHandle, message.id), message.text);
    if (std::holds_alternative<std::monostate>(message.build))
        return;
    // With the loader missing every entry, only the built-in copies serve.
    winapi_sim::setAllStringsMissing(builtInCopy);
    const Built built = buildWithSamples(message);
    EXPECT_EQ(built.actual, built.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, MessageTableEntry, testing::Combine(testing::ValuesIn(kMessages), testing::Bool()),
    [](const testing::TestParamInfo<MessageTableEntry::ParamType>& info) {
        return std::to_string(std::get<0>(info.param).id) +
               (std::get<1>(info.param) ? "_BuiltInCopy" : "_Loaded");
    });

TEST(MessageTable, HoldsExactlyTheEntriesFrom1001To1052)
{
    for (unsigned id = 1001; id <= 1052; ++id)
        EXPECT_NE(loadString(vexa2::python::g_moduleHandle, id), "") << id;
    EXPECT_EQ(loadString(vexa2::python::g_moduleHandle, 1000), "");
    EXPECT_EQ(loadString(vexa2::python::g_moduleHandle, 1053), "");
}

// ---- builders: arguments stay text, results stay within the buffer ----

struct InsertedCase
{
    const char* name;
    std::string actual;
    std::string expected;
};

TEST(MessageBuilders, ArgumentsAreInsertedNeverReadAsFormats)
{
    const char* const percent = "rate%s%d%n%%x";
    const InsertedCase cases[] = {
        {"attribute", msgAttributeNotFound(percent), "Attribute not found 'rate%s%d%n%%x'"},
        {"property", msgSystemPropertyNotFound(percent), "System property rate%s%d%n%%x not found"},
        {"zorvat", msgZorvatLocked(percent, 3),
         "Zorvat error: rate%s%d%n%%x code: Locked subcode: 3"},
        {"null text", msgPlentaNotReady(nullptr), "Plenta error: (null) code: NotReady"},
    };
    for (const InsertedCase& c : cases)
        EXPECT_EQ(c.actual, c.expected) << c.name;
}

TEST(MessageBuilders, ResultsAreCutAt4095Characters)
{
    const std::string prefix = "Attribute not found '";
    // Fits exactly: the prefix, the name and the closing quote make 4095.
    const std::string fitting(4095 - prefix.size() - 1, 'n');
    EXPECT_EQ(msgAttributeNotFound(fitting.c_str()), prefix + fitting + "'");

    const std::string longName(5000, 'n');
    const std::string cut = msgAttributeNotFound(longName.c_str());
    EXPECT_EQ(cut.size(), 4095u);
    EXPECT_EQ(cut, (prefix + longName).substr(0, 4095));

    const std::string longTraceback(5000, 't');
    EXPECT_EQ(msgCallbackException(longTraceback.c_str(), "f", "source\\f", 1),
              ("Exception " + longTraceback).substr(0, 4095));
}

TEST(MessageBuilders, MissingEntryIsServedByTheBuiltInCopy)
{
    StringTableSwitch restore;
    const std::string loaded = msgAttributeNotFound("bid");
    winapi_sim::setMissingStrings({1002, 1051});
    EXPECT_EQ(loadString(vexa2::python::g_moduleHandle, 1002), "");
    EXPECT_EQ(msgAttributeNotFound("bid"), loaded);
    EXPECT_EQ(msgAttributeNotFound("bid"), "Attribute not found 'bid'");
    EXPECT_EQ(loadString(vexa2::python::g_moduleHandle, 1001), "Index out of bounds");
}

// ---- the platform layer's loader ----

HINSTANCE baseOf(const void* address)
{
    Dl_info image{};
    return dladdr(address, &image) ? static_cast<HINSTANCE>(image.dli_fbase) : nullptr;
}

struct LoadCase
{
    const char* name;
    HINSTANCE instance;
    unsigned id;
    int capacity;
    int count;
    std::string text;
};

TEST(LoadString, CopiesAtMostCapacityLessOneCharacters)
{
    const HINSTANCE module = vexa2::python::g_moduleHandle;
    const HINSTANCE tableless = baseOf(reinterpret_cast<const void*>(&LoadStringA));
    const HINSTANCE insideImage =
        reinterpret_cast<HINSTANCE>(reinterpret_cast<char*>(module) + 4096);
    ASSERT_NE(tableless, nullptr);
    ASSERT_NE(tableless, module);
    const LoadCase cases[] = {
        {"whole text", module, 1001, 4096, 19, "Index out of bounds"},
        {"exact fit", module, 1001, 20, 19, "Index out of bounds"},
        {"truncated", module, 1001, 6, 5, "Index"},
        {"room for the NUL only", module, 1001, 1, 0, ""},
        {"no room", module, 1001, 0, 0, ""},
        {"below the table", module, 1000, 4096, 0, ""},
        {"past the table", module, 1053, 4096, 0, ""},
        {"image without a table", tableless, 1001, 4096, 0, ""},
        {"not an image base", insideImage, 1001, 4096, 0, ""},
        {"null handle", nullptr, 1001, 4096, 0, ""},
    };
    for (const LoadCase& c : cases) {
        std::vector<char> buffer(32, 'X');
        const int count = LoadStringA(c.instance, c.id, buffer.data(), c.capacity);
        EXPECT_EQ(count, c.count) << c.name;
        if (c.capacity > 0) {
            EXPECT_EQ(std::string(buffer.data()), c.text) << c.name;
        }
        // Nothing is written past the capacity given.
        for (size_t i = static_cast<size_t>(c.capacity); i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], 'X') << c.name << " at " << i;
    }
}

TEST(LoadString, SwitchMakesChosenEntriesMissing)
{
    StringTableSwitch restore;
    const HINSTANCE module = vexa2::python::g_moduleHandle;
    winapi_sim::setMissingStrings({1005, 1051});
    EXPECT_EQ(loadString(module, 1005), "");
    EXPECT_EQ(loadString(module, 1051), "");
    EXPECT_EQ(loadString(module, 1006), "Session not logged");

    winapi_sim::setMissingStrings({1006});  // replaces the list
    EXPECT_EQ(loadString(module, 1005), "The buffer is too small");
    EXPECT_EQ(loadString(module, 1006), "");

    winapi_sim::setAllStringsMissing(true);
    EXPECT_EQ(loadString(module, 1001), "");
    winapi_sim::setAllStringsMissing(false);
    EXPECT_EQ(loadString(module, 1001), "Index out of bounds");
    EXPECT_EQ(loadString(module, 1006), "");

    winapi_sim::resetStringTable();
    EXPECT_EQ(loadString(module, 1006), "Session not logged");
}

// ---- the module handle ----

TEST(MessageModuleHandle, IsThisImageRecordedAtLoad)
{
    EXPECT_NE(vexa2::python::g_moduleHandle, nullptr);
    EXPECT_EQ(vexa2::python::g_moduleHandle,
              baseOf(reinterpret_cast<const void*>(&loadString)));
}

TEST(MessageModuleHandle, DllMainStoresTheHandleOnProcessAttachOnly)
{
    const HINSTANCE recorded = vexa2::python::g_moduleHandle;
    int marker = 0;
    const HINSTANCE other = reinterpret_cast<HINSTANCE>(&marker);
    for (DWORD reason : {0u, 2u, 3u, 1u}) {
        EXPECT_EQ(DllMain(other, reason, nullptr), TRUE) << reason;
        EXPECT_EQ(vexa2::python::g_moduleHandle, reason == 1 ? other : recorded) << reason;
    }
    vexa2::python::g_moduleHandle = recorded;
}

// ---- the raise sequence ----

struct PythonError
{
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;

    static PythonError fetch()
    {
        PythonError error;
        PyErr_Fetch(&error.type, &error.value, &error.traceback);
        PyErr_NormalizeException(&error.type, &error.value, &error.traceback);
        return error;
    }
    std::string text() const
    {
        PyObject* shown = value ? PyObject_Str(value) : nullptr;
        const char* utf8 = shown ? PyUnicode_AsUTF8(shown) : nullptr;
        std::string result = utf8 ? utf8 : "<no text>";
        Py_XDECREF(shown);
        return result;
    }
    ~PythonError()
    {
        Py_XDECREF(type);
        Py_XDECREF(value);
        Py_XDECREF(traceback);
    }
};

struct RaiseCase
{
    PyObject* type;
    std::string text;
};

TEST(MessageRaise, SetsTheTypeAndTheTextThenThrows)
{
    GILGuard gil;
    const RaiseCase cases[] = {
        {PyExc_IndexError, msgIndexOutOfBounds()},
        {PyExc_AttributeError, msgAttributeNotFound("a%sb")},
        {PyExc_TimeoutError, msgTimeIsOut()},
        {PyExc_Exception, msgZorvatLimitReached("full", 2)},
    };
    for (const RaiseCase& c : cases) {
        EXPECT_THROW(vexa2::python::raiseMessage(c.type, c.text),
                     boost::python::error_already_set);
        const PythonError error = PythonError::fetch();
        EXPECT_EQ(error.type, c.type) << c.text;
        EXPECT_EQ(error.text(), c.text);
    }
}

TEST(MessageRaise, TakesTheInterpreterLockItself)
{
    // This thread holds no lock here; the error stays with its thread state.
    EXPECT_THROW(vexa2::python::raiseMessage(PyExc_ValueError, msgEventQueueEmpty()),
                 boost::python::error_already_set);
    GILGuard gil;
    const PythonError error = PythonError::fetch();
    EXPECT_EQ(error.type, PyExc_ValueError);
    EXPECT_EQ(error.text(), "Event queue is empty");
}

TEST(MessageRaise, OverlongAndNonUtf8TextsStillRaiseTheirMessage)
{
    GILGuard gil;
    const std::string longName(5000, 'n');
    EXPECT_THROW(vexa2::python::raiseMessage(PyExc_AttributeError,
                                             msgAttributeNotFound(longName.c_str())),
                 boost::python::error_already_set);
    PythonError error = PythonError::fetch();
    EXPECT_EQ(error.type, PyExc_AttributeError);
    EXPECT_EQ(error.text().size(), 4095u);

    EXPECT_THROW(vexa2::python::raiseMessage(PyExc_AttributeError, msgAttributeNotFound("\xff")),
                 boost::python::error_already_set);
    const PythonError replaced = PythonError::fetch();
    EXPECT_EQ(replaced.text(), "Attribute not found '\xef\xbf\xbd'");
}

// ---- the callback error report ----

// Holds what the process writes to file descriptor 2 while it lives.
class StderrCapture
{
public:
    StderrCapture()
    {
        std::fflush(stderr);
        m_saved = dup(2);
        m_file = std::tmpfile();
        dup2(fileno(m_file), 2);
    }
    std::string finish()
    {
        std::fflush(stderr);
        dup2(m_saved, 2);
        close(m_saved);
        m_saved = -1;
        std::string text;
        std::rewind(m_file);
        char chunk[4096];
        size_t count;
        while ((count = std::fread(chunk, 1, sizeof chunk, m_file)) > 0)
            text.append(chunk, count);
        return text;
    }
    ~StderrCapture()
    {
        if (m_saved >= 0)
            finish();
        std::fclose(m_file);
    }

private:
    int m_saved = -1;
    std::FILE* m_file = nullptr;
};

void raiseThroughPython(const char* source)
{
    PyObject* globals = PyDict_New();
    PyObject* result = PyRun_String(source, Py_file_input, globals, globals);
    Py_XDECREF(result);
    Py_DECREF(globals);
}

// A test name from a case's readable name: test names take no spaces.
struct UnderscoredName
{
    template <class Case>
    std::string operator()(const testing::TestParamInfo<Case>& info) const
    {
        std::string name = info.param.name;
        for (char& c : name)
            if (c == ' ')
                c = '_';
        return name;
    }
};

struct ReportCase
{
    const char* name;
    void (*raise)();
    std::string expected;
};

const ReportCase kReports[] = {
    {"with a traceback",
     [] { raiseThroughPython("def fail():\n    raise KeyError('bid')\nfail()\n"); },
     "Exception Traceback (most recent call last):\n\n"
     "  File \"<string>\", line 3, in <module>\n\n"
     "  File \"<string>\", line 2, in fail\n\n"
     "KeyError: 'bid'\n"
     " in function 'on_row' in file 'source\\K7R\\K7RTable' line 58\n"},
    {"without a traceback", [] { PyErr_SetString(PyExc_ValueError, "50% off"); },
     "Exception ValueError: 50% off\n"
     " in function 'on_row' in file 'source\\K7R\\K7RTable' line 58\n"},
    {"overlong", [] { PyErr_SetString(PyExc_ValueError, std::string(5000, 'v').c_str()); },
     ("Exception ValueError: " + std::string(5000, 'v')).substr(0, 4095) + "\n"},
};

void PrintTo(const ReportCase& report, std::ostream* out)
{
    *out << report.name;
}

class MessageReport : public testing::TestWithParam<ReportCase>
{
};

TEST_P(MessageReport, WritesMessage1051AndRestoresTheError)
{
    GILGuard gil;
    GetParam().raise();
    ASSERT_TRUE(PyErr_Occurred());
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    Py_XINCREF(type);
    Py_XINCREF(value);
    Py_XINCREF(traceback);
    PyErr_Restore(type, value, traceback);

    StderrCapture capture;
    vexa2::python::reportPythonError("on_row", "source\\K7R\\K7RTable", 58);
    EXPECT_EQ(capture.finish(), GetParam().expected);

    // The very same error is pending again, not a copy and not a normalised stand-in.
    PyObject *typeAfter, *valueAfter, *tracebackAfter;
    PyErr_Fetch(&typeAfter, &valueAfter, &tracebackAfter);
    EXPECT_EQ(typeAfter, type);
    EXPECT_EQ(valueAfter, value);
    EXPECT_EQ(tracebackAfter, traceback);
    for (PyObject* object : {type, value, traceback, typeAfter, valueAfter, tracebackAfter})
        Py_XDECREF(object);
}

INSTANTIATE_TEST_SUITE_P(Cases, MessageReport, testing::ValuesIn(kReports), UnderscoredName());

TEST(MessageReportFallback, UnformattableErrorIsStillReported)
{
    GILGuard gil;
    // An import of a module whose sys.modules entry is None fails.
    PyObject* modules = PyImport_GetModuleDict();
    PyObject* saved = PyDict_GetItemString(modules, "traceback");
    Py_XINCREF(saved);
    PyDict_SetItemString(modules, "traceback", Py_None);

    PyErr_SetString(PyExc_OverflowError, "too many orders");
    StderrCapture capture;
    vexa2::python::reportPythonError("init_module_dedezi", "source\\main", 58);
    const std::string written = capture.finish();
    const PythonError error = PythonError::fetch();

    if (saved)
        PyDict_SetItemString(modules, "traceback", saved);
    else
        PyDict_DelItemString(modules, "traceback");
    Py_XDECREF(saved);

    EXPECT_EQ(written, "Exception OverflowError (traceback unavailable)\n"
                       " in function 'init_module_dedezi' in file 'source\\main' line 58\n");
    EXPECT_EQ(error.type, PyExc_OverflowError);
    EXPECT_EQ(error.text(), "too many orders");
}


// ---- where the report goes: sys.stderr, or the process's standard error without a usable one ----

// Puts the stream that `setup` leaves in `stream` (or none, for "del") in place of sys.stderr
// while it lives; the namespace stays readable for the checks.
class SysStderrSwap
{
public:
    explicit SysStderrSwap(const char* setup) : m_namespace(PyDict_New())
    {
        m_saved = PySys_GetObject("stderr");
        Py_XINCREF(m_saved);
        PyObject* result = PyRun_String(setup, Py_file_input, m_namespace, m_namespace);
        EXPECT_NE(result, nullptr);
        if (!result)
            PyErr_Print();
        Py_XDECREF(result);
    }
    ~SysStderrSwap()
    {
        PySys_SetObject("stderr", m_saved);
        Py_XDECREF(m_saved);
        Py_DECREF(m_namespace);
    }
    // str() of a Python expression over the setup's namespace.
    std::string eval(const char* expression) const
    {
        PyObject* value = PyRun_String(expression, Py_eval_input, m_namespace, m_namespace);
        PyObject* shown = value ? PyObject_Str(value) : nullptr;
        const char* utf8 = shown ? PyUnicode_AsUTF8(shown) : nullptr;
        std::string result = utf8 ? utf8 : "<failed>";
        PyErr_Clear();
        Py_XDECREF(shown);
        Py_XDECREF(value);
        return result;
    }

private:
    PyObject* m_namespace;
    PyObject* m_saved = nullptr;
};

const std::string kReportTail = " in function 'on_row' in file 'source\\K7R\\K7RTable' line 58\n";

TEST(MessageReportStream, ARedirectedSysStderrGetsTheWholeReportFlushed)
{
    GILGuard gil;
    // Longer than the 1,000 bytes that the interpreter's own formatted writes keep.
    const std::string text(3000, 'v');
    SysStderrSwap swap("import io, sys\n"
                       "calls = []\n"
                       "class Stream(io.StringIO):\n"
                       "    def write(self, text):\n"
                       "        calls.append('write')\n"
                       "        return super().write(text)\n"
                       "    def flush(self):\n"
                       "        calls.append('flush')\n"
                       "sys.stderr = stream = Stream()\n");
    PyErr_SetString(PyExc_ValueError, text.c_str());
    StderrCapture capture;
    vexa2::python::reportPythonError("on_row", "source\\K7R\\K7RTable", 58);
    EXPECT_EQ(capture.finish(), "");
    const PythonError error = PythonError::fetch();
    EXPECT_EQ(error.type, PyExc_ValueError);
    EXPECT_EQ(error.text(), text);
    EXPECT_EQ(swap.eval("stream.getvalue()"), "Exception ValueError: " + text + "\n" + kReportTail);
    EXPECT_EQ(swap.eval("calls"), "['write', 'flush']");
}

struct UnusableStream
{
    const char* name;
    const char* setup;
};

const UnusableStream kUnusableStreams[] = {
    {"None", "import sys\nsys.stderr = None\n"},
    {"missing", "import sys\ndel sys.stderr\n"},
    {"write raises",
     "import sys\n"
     "class Broken:\n"
     "    def write(self, text):\n"
     "        raise OSError('disk full')\n"
     "sys.stderr = Broken()\n"},
    {"closed", "import io, sys\nsys.stderr = io.StringIO()\nsys.stderr.close()\n"},
};

void PrintTo(const UnusableStream& stream, std::ostream* out)
{
    *out << stream.name;
}

class MessageReportWithoutSysStderr : public testing::TestWithParam<UnusableStream>
{
};

TEST_P(MessageReportWithoutSysStderr, GoesToTheProcessStandardErrorAndLeavesOnlyTheReportedError)
{
    GILGuard gil;
    SysStderrSwap swap(GetParam().setup);
    PyErr_SetString(PyExc_ValueError, "50% off");
    StderrCapture capture;
    vexa2::python::reportPythonError("on_row", "source\\K7R\\K7RTable", 58);
    EXPECT_EQ(capture.finish(), "Exception ValueError: 50% off\n" + kReportTail);
    const PythonError error = PythonError::fetch();
    EXPECT_EQ(error.type, PyExc_ValueError);
    EXPECT_EQ(error.text(), "50% off");
    EXPECT_FALSE(PyErr_Occurred());
}

INSTANTIATE_TEST_SUITE_P(Streams, MessageReportWithoutSysStderr, testing::ValuesIn(kUnusableStreams),
                         UnderscoredName());

}  // namespace
