// source/ObjectHandles.h: how a library object reaches Python. A handle owns the one reference a
// library getter returned and gives it back through the object's own release() when it goes.
#pragma once

#include <boost/python.hpp>
#include <boost/shared_ptr.hpp>

#include <functional>

namespace vexa2 { namespace python {

// The release deleter. Each library's IAddRef has release() at its own vtable slot; calling it
// through T picks the right one for trading-library, Plenta and Zorvat objects alike.
template <class T>
void releaseObject(T* object)
{
    if (object)
        object->release();
}

// A library object handle: shared by every copy, releasing once when the last copy goes.
template <class T>
using LibraryHandle = boost::shared_ptr<T>;

// Takes over the caller's reference on `object` (null gives an empty handle).
template <class T>
LibraryHandle<T> makeLibraryHandle(T* object)
{
    return LibraryHandle<T>(object, std::function<void(T*)>(&releaseObject<T>));
}

// None for null; otherwise a Python object of T's registered class holding a handle over `object`.
// The class must be registered with boost::shared_ptr<T> as its held type. Takes over the
// caller's reference, also when the conversion fails.
template <class T>
boost::python::object wrapApiObject(T* object)
{
    if (!object)
        return boost::python::object();
    return boost::python::object(makeLibraryHandle(object));
}

namespace detail {

template <class T, class Holder, class Make>
struct InstanceOf
    : boost::python::objects::make_instance_impl<T, Holder, InstanceOf<T, Holder, Make>>
{
    static PyTypeObject* get_class_object(Make&)
    {
        return boost::python::converter::registered<T>::converters.get_class_object();
    }

    static Holder* construct(void* storage, PyObject*, Make& make) { return make(storage); }
};

}  // namespace detail

// A new Python object of T's registered class, with the holder that `make(storage)` builds in the
// object's own storage: called only once the object exists, so what the holder takes over stays
// with the caller if it cannot be made. The binding library's own instance making, with the class
// fixed: its usual conversion first asks the registry for the object's concrete class, which for
// a library object is the library's and never registered.
template <class T, class Holder, class Make>
boost::python::object makeInstance(Make make)
{
    PyObject* object = detail::InstanceOf<T, Holder, Make>::execute(make);
    if (!object)
        boost::python::throw_error_already_set();
    return boost::python::object(boost::python::handle<>(object));
}

} }  // namespace vexa2::python
