// source/K7R/K7RSystemPropertiesListener.cpp: the AK7RSystemPropertiesListener class, through which
// a script hears of system property changes, one name and value at a time.
#include <boost/python.hpp>

#include "Constructors.h"
#include "K7R/K7RSystemPropertiesListener.h"
#include "Registrations.h"

namespace vexa2 { namespace python {

namespace {

const CallbackSite kChangeProperty{"on_change_property",
                                   "AK7RSystemPropertiesListener::on_change_property",
                                   "onChangeProperty", "source\\K7R\\K7RSystemPropertiesListener", 14};

}  // namespace

void K7RSystemPropertiesListenerHelper::onChangeProperty(const char* name, const char* value)
{
    forward(&K7RSystemPropertiesListenerImpl::onChangeProperty, name, value);
}

void K7RSystemPropertiesListenerImpl::onChangeProperty(const char* name, const char* value)
{
    dispatch(kChangeProperty, name, value);
}

} }  // namespace vexa2::python

void exportSystemPropertiesListener()
{
    namespace bp = boost::python;
    using vexa2::python::K7RSystemPropertiesListenerImpl;
    using vexa2::python::checkedInit;

    bp::class_<K7RSystemPropertiesListenerImpl, boost::shared_ptr<K7RSystemPropertiesListenerImpl>,
               boost::noncopyable>
        listener("AK7RSystemPropertiesListener", "The abstract class...",
                 checkedInit<K7RSystemPropertiesListenerImpl>());
    vexa2::python::defCallback(listener, "on_change_property",
                               &K7RSystemPropertiesListenerImpl::onChangeProperty,
                               "Reserved for future use.");
}
