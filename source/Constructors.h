// source/Constructors.h: the __init__ of every class that a script constructs. The binding
// library's __init__ takes any object as self and builds the native half inside it, so called on
// an object of another class (AK7RTableListener.__init__(0)) it writes over that object's memory:
// a self that is not an instance of the class is refused with TypeError first.
#pragma once

#include <boost/python.hpp>

namespace vexa2 { namespace python {

// True when `self` is an instance of the class registered for `type`; TypeError set otherwise.
bool selfOfRegisteredClass(PyObject* self, boost::python::type_info type);

// The call policy of such an __init__, over the class registered for T.
template <class T>
struct SelfOfClassPolicy : boost::python::default_call_policies
{
    static bool precall(PyObject* args)
    {
        // The arity is already checked: self is there.
        return selfOfRegisteredClass(PyTuple_GET_ITEM(args, 0), boost::python::type_id<T>());
    }
};

// bp::init<>() for the class registered for T, refusing a foreign self.
template <class T>
auto checkedInit()
{
    return boost::python::init<>()[SelfOfClassPolicy<T>()];
}

} }  // namespace vexa2::python
