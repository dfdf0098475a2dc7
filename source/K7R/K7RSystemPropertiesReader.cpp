// source/K7R/K7RSystemPropertiesReader.cpp: the system properties classes: K7RSystemProperty, the
// reader and its container base. A name that the reader does not know raises 1036, a key of
// another type 1020, an index past the end 1001.
#include "K7R/K7RSystemPropertiesReader.h"

#include <boost/python.hpp>
#include <boost/shared_ptr.hpp>

#include <cstring>
#include <limits>
#include <string_view>

#include "Messages.h"

namespace bp = boost::python;

namespace vexa2 { namespace python {

namespace {

bp::object newProperty(IK7RSystemPropertiesReader* reader, int index)
{
    const char* value = nullptr;
    const char* name = reader->getProperty(index, value);
    return bp::object(boost::shared_ptr<SystemProperty>(new SystemProperty(name, value)));
}

}  // namespace

bp::object systemPropertiesReaderGetter(IK7RSystemPropertiesReader* reader, std::size_t index)
{
    if (!indexInRange(reader, index))
        raiseMessage(PyExc_IndexError, msgIndexOutOfBounds());
    return newProperty(reader, static_cast<int>(index));
}

bp::object K7RSystemPropertiesReaderHelper::getByIndex(int index) const
{
    if (index < 0 || !indexInRange(collection(), static_cast<std::size_t>(index)))
        return bp::object();
    return newProperty(collection(), index);
}

} }  // namespace vexa2::python

namespace {

using namespace vexa2::python;
using Helper = K7RSystemPropertiesReaderHelper;
using Base = K7RSystemPropertiesReaderBase;

// The UTF-8 text of a str, kept by the str itself.
std::string_view utf8Name(PyObject* text)
{
    Py_ssize_t size = 0;
    const char* bytes = PyUnicode_AsUTF8AndSize(text, &size);
    if (!bytes)
        bp::throw_error_already_set();
    return std::string_view(bytes, static_cast<std::size_t>(size));
}

// The name as a C string for the library, or null for a text that no C string can carry (one
// with a NUL inside): such a name names no property.
const char* propertyName(std::string_view name)
{
    return std::strlen(name.data()) == name.size() ? name.data() : nullptr;
}

// The value of a property the reader must know: ValueError 1036 with the whole name otherwise.
bp::object requiredProperty(Helper& reader, PyObject* name)
{
    const std::string_view text = utf8Name(name);
    const char* key = propertyName(text);
    const char* value = key ? reader.findProperty(key) : nullptr;
    if (!value)
        raiseMessage(PyExc_ValueError, msgSystemPropertyNotFound(shownName(text).c_str()));
    return bp::object(bp::handle<>(PyUnicode_FromString(value)));
}

bp::object findProperty(Helper& reader, const bp::str& name)
{
    const char* key = propertyName(utf8Name(name.ptr()));
    const char* value = key ? reader.findProperty(key) : nullptr;
    return value ? bp::object(bp::handle<>(PyUnicode_FromString(value))) : bp::object();
}

bp::object systemPropertiesGetByIndex(const Helper& reader, int index)
{
    return reader.getByIndex(index);
}

// An int (or bool) is an index, a negative one past the end; a str is a name.
bp::object systemPropertiesGetItem(Helper& reader, const bp::object& key)
{
    if (PyLong_Check(key.ptr()))
    {
        int overflow = 0;
        const long long index = PyLong_AsLongLongAndOverflow(key.ptr(), &overflow);
        if (index == -1 && PyErr_Occurred())
            bp::throw_error_already_set();
        return systemPropertiesReaderGetter(
            reader.collection(), overflow ? std::numeric_limits<std::size_t>::max() : static_cast<std::size_t>(index));
    }
    if (PyUnicode_Check(key.ptr()))
        return requiredProperty(reader, key.ptr());
    raiseMessage(PyExc_ValueError, msgOnlyStringOrIntegerValue());
}

// A name that begins and ends with two underscores belongs to Python's protocols (copy, pickle,
// and the like look such names up and expect AttributeError when they are missing), never to a
// property.
bp::object systemPropertiesGetAttr(const bp::object& self, const bp::str& name)
{
    const std::string_view text = utf8Name(name.ptr());
    if (text.size() >= 4 && text.substr(0, 2) == "__" && text.substr(text.size() - 2) == "__")
    {
        PyErr_Format(PyExc_AttributeError, "'%.100s' object has no attribute '%U'",
                     Py_TYPE(self.ptr())->tp_name, name.ptr());
        bp::throw_error_already_set();
    }
    return requiredProperty(bp::extract<Helper&>(self)(), name.ptr());
}

}  // namespace

void exportSystemPropertiesReader()
{
    const char* const reserved = "Reserved for future use.";

    // Each class's shared-pointer converters come with its held type.
    bp::class_<SystemProperty, boost::shared_ptr<SystemProperty>, boost::noncopyable>(
        "K7RSystemProperty", "The class represents a system property.", bp::no_init)
        .add_property("name", &SystemProperty::name, "Gets the name of a system property.")
        .add_property("value", &SystemProperty::value, "Gets the value of a system property.");

    bp::class_<Base, boost::shared_ptr<Base>, boost::noncopyable>("_K7RSystemPropertiesReader", bp::no_init);

    bp::class_<Helper, boost::shared_ptr<Helper>, bp::bases<Base>, boost::noncopyable>(
        "K7RSystemPropertiesReader", "A reader of the system properties.", bp::no_init)
        .def("find_property", &findProperty, "Finds a property by name.")
        .def("get_by_name", &systemPropertiesGetByIndex, reserved)
        .def(ContainerMembers<Helper>()
                 .size("Gets the number of properties in the system.")
                 .len(reserved)
                 .get("get", "Gets a property by index."))
        .def("__iter__", bp::range(&Helper::begin, &Helper::end))
        .def("__getitem__", &systemPropertiesGetItem)
        .def("__getattr__", &systemPropertiesGetAttr);
}
