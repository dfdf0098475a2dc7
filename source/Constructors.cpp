// source/Constructors.cpp: the check of self that every constructible class's __init__ makes.
#include "Constructors.h"

#include <boost/python/object/class_detail.hpp>

namespace vexa2 { namespace python {

bool selfOfRegisteredClass(PyObject* self, boost::python::type_info type)
{
    const boost::python::type_handle cls = boost::python::objects::registered_class_object(type);
    if (cls && PyObject_TypeCheck(self, cls.get()))
        return true;
    PyErr_Format(PyExc_TypeError, "descriptor '__init__' requires a '%s' object but received a '%s'",
                 cls ? cls->tp_name : type.name(), Py_TYPE(self)->tp_name);
    return false;
}

} }  // namespace vexa2::python
