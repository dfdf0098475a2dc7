// source/Enums.h: the registration of every enum of the module. The binding library's enum values
// are ints of any size, but a value past the C int range cannot reach the library and its repr
// reads past the object: such a value made from Python is refused with OverflowError.
#pragma once

#include <boost/python/enum.hpp>

#include "EnumValues.h"

namespace vexa2 { namespace python {

// Gives the enum type `type` a __new__ that refuses a value outside the C int range.
void refuseValuesBeyondInt(PyObject* type);

// boost::python::enum_, with the guard above on its type, converting its values to Python through
// its own table of values (which the later .value calls fill).
template <class E>
class Enum : public boost::python::enum_<E>
{
public:
    explicit Enum(const char* name, const char* doc = nullptr)
        : boost::python::enum_<E>(name, doc)
    {
        refuseValuesBeyondInt(this->ptr());
        convertOneByValueTable<E>();
    }
};

} }  // namespace vexa2::python
