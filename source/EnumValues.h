// source/EnumValues.h: an enum's conversion to Python through the enum class's own table of
// values, in place of the binding library's generic one, which looks the table up by name and
// compares its answer through Python on every value it converts.
#pragma once

#include <boost/python.hpp>

namespace vexa2 { namespace python {

namespace detail {

template <class E>
struct EnumValues
{
    static inline PyObject* values = nullptr;  // the class's `values` dict, kept for good
    static inline boost::python::converter::to_python_function_t generic = nullptr;

    static PyObject* convert(const void* source)
    {
        PyObject* key = PyLong_FromLong(static_cast<long>(*static_cast<const E*>(source)));
        if (!key)
            return nullptr;
        PyObject* named = PyDict_GetItemWithError(values, key);
        Py_DECREF(key);
        if (named)
        {
            Py_INCREF(named);
            return named;
        }
        // A value without a name is made as before.
        return PyErr_Occurred() ? nullptr : generic(source);
    }
};

}  // namespace detail

// After the enum_<E> registration; its values may come later.
template <class E>
void convertOneByValueTable()
{
    namespace cv = boost::python::converter;
    auto& registration = const_cast<cv::registration&>(cv::registered<E>::converters);
    if (registration.m_to_python == &detail::EnumValues<E>::convert)
        return;  // registered once already: the generic one is kept
    boost::python::object type(
        boost::python::handle<>(boost::python::borrowed(registration.get_class_object())));
    const boost::python::object values = type.attr("values");
    detail::EnumValues<E>::values = boost::python::incref(values.ptr());
    detail::EnumValues<E>::generic = registration.m_to_python;
    registration.m_to_python = &detail::EnumValues<E>::convert;
}

} }  // namespace vexa2::python
