// source/TextArguments.cpp: the conversions of text arguments, refusing an embedded NUL with
// ValueError "embedded null character" (str) or "embedded null byte" (bytes), and bytes that are
// not UTF-8 with UnicodeDecodeError.
#include "TextArguments.h"

#include <boost/python.hpp>

#include <cstring>
#include <new>
#include <string>

namespace bp = boost::python;
namespace converter = boost::python::converter;

namespace {

// Converters are tried in turn and a refusing one would leave the text to the next, which cuts
// it: a refusal is raised from here (the call that converts catches it).
void refuseEmbeddedNul(const char* data, Py_ssize_t size, const char* message)
{
    if (std::strlen(data) != static_cast<std::size_t>(size))
    {
        PyErr_SetString(PyExc_ValueError, message);
        bp::throw_error_already_set();
    }
}

// The library reads its texts as UTF-8 and gives them back as str: bytes that are not UTF-8 would
// be taken and then fail to read back. The interpreter's own UnicodeDecodeError refuses them.
void refuseNonUtf8(const char* data, Py_ssize_t size)
{
    PyObject* decoded = PyUnicode_DecodeUTF8(data, size, nullptr);
    if (!decoded)
        bp::throw_error_already_set();
    Py_DECREF(decoded);
}

// The UTF-8 text of a str, kept by the str itself.
const char* utf8(PyObject* text, Py_ssize_t& size)
{
    const char* data = PyUnicode_AsUTF8AndSize(text, &size);
    if (!data)
        bp::throw_error_already_set();
    refuseEmbeddedNul(data, size, "embedded null character");
    return data;
}

// char const* arguments: an lvalue of char, from a str only.
void* cString(PyObject* object)
{
    if (!PyUnicode_Check(object))
        return nullptr;
    Py_ssize_t size = 0;
    return const_cast<char*>(utf8(object, size));
}

// std::string arguments: from a str or a bytes object.
void* stringConvertible(PyObject* object)
{
    if (PyUnicode_Check(object))
    {
        Py_ssize_t size = 0;
        utf8(object, size);
        return object;
    }
    if (PyBytes_Check(object))
    {
        refuseEmbeddedNul(PyBytes_AS_STRING(object), PyBytes_GET_SIZE(object), "embedded null byte");
        refuseNonUtf8(PyBytes_AS_STRING(object), PyBytes_GET_SIZE(object));
        return object;
    }
    return nullptr;
}

void constructString(PyObject* object, converter::rvalue_from_python_stage1_data* data)
{
    void* storage =
        reinterpret_cast<converter::rvalue_from_python_storage<std::string>*>(data)->storage.bytes;
    Py_ssize_t size = 0;
    const char* text = nullptr;
    if (PyUnicode_Check(object))
    {
        text = PyUnicode_AsUTF8AndSize(object, &size);
        if (!text)
            bp::throw_error_already_set();
    }
    else
    {
        text = PyBytes_AS_STRING(object);
        size = PyBytes_GET_SIZE(object);
    }
    data->convertible = new (storage) std::string(text, static_cast<std::size_t>(size));
}

PyTypeObject const* unicodeType()
{
    return &PyUnicode_Type;
}

}  // namespace

void registerTextArguments()
{
    // Inserted converters go to the head of their type's chain, so these are tried first.
    converter::registry::insert(&cString, bp::type_id<char>(), &unicodeType);
    converter::registry::insert(&stringConvertible, &constructString, bp::type_id<std::string>(),
                                &unicodeType);
}
